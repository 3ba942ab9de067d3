#include "EncoderTestSupport.h"

#include <memory>

#include "Base/MainThread.h"
#include "Support/MediaOpen.h"

namespace vexa::test {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    CheckSynchronize(10);
  }
  return true;
}

void PumpFor(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) CheckSynchronize(10);
}

TReadBack ReadBack(const std::string& path) {
  TReadBack result;
  TInputPtr input = OpenMediaInput(path);
  if (!input) return result;
  result.Opened = true;
  result.Format = input->iformat->name;
  std::vector<TCodecPtr> decoders;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters* par = input->streams[i]->codecpar;
    result.Codecs.push_back(avcodec_get_name(par->codec_id));
    TCodecPtr ctx = OpenDecoder(input->streams[i]);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      result.VideoWidth = par->width;
      result.VideoHeight = par->height;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) result.AudioSampleRate = par->sample_rate;
    decoders.push_back(std::move(ctx));
  }
  TPacketPtr packet(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  auto drain = [&](AVCodecContext* ctx) {
    while (avcodec_receive_frame(ctx, frame.get()) >= 0) {
      if (ctx->codec_type == AVMEDIA_TYPE_VIDEO) ++result.VideoFrames;
      if (ctx->codec_type == AVMEDIA_TYPE_AUDIO) result.AudioSamples += frame->nb_samples;
      av_frame_unref(frame.get());
    }
  };
  int ret;
  while ((ret = av_read_frame(input.get(), packet.get())) >= 0) {
    AVCodecContext* ctx = decoders[static_cast<size_t>(packet->stream_index)].get();
    if (ctx) {
      if (avcodec_send_packet(ctx, packet.get()) < 0) ++result.DecodeErrors;
      drain(ctx);
    }
    av_packet_unref(packet.get());
  }
  result.ReachedEnd = ret == AVERROR_EOF;
  for (auto& ctx : decoders) {
    if (!ctx) continue;
    avcodec_send_packet(ctx.get(), nullptr);
    drain(ctx.get());
  }
  return result;
}

::testing::AssertionResult IsFinishedFile(const TReadBack& AFile) {
  if (!AFile.Opened) return ::testing::AssertionFailure() << "the file does not open (no trailer?)";
  if (!AFile.ReachedEnd) return ::testing::AssertionFailure() << "reading stopped before the end of the file";
  if (AFile.DecodeErrors != 0) return ::testing::AssertionFailure() << AFile.DecodeErrors << " decode errors";
  return ::testing::AssertionSuccess();
}

int AddLavfiTask(TFFEncoder& encoder, const std::string& input, const std::string& output,
                 const std::string& inputLine, const std::string& outputLine) {
  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = inputLine;
  const int index = encoder.AddTask(input, &in);
  if (index < 0) return index;
  TOutputOptions out;
  InitOutputOptions(&out);
  out.FileOptions = outputLine;
  const int result = encoder.SetOutput(index, output, &out);
  if (result < 0) {
    encoder.RemoveTask(index);
    return result;
  }
  return index;
}

std::string LavfiVideo(double seconds, int rate) {
  std::string video = "testsrc=size=320x240:rate=" + std::to_string(rate);
  if (seconds > 0) video += ":duration=" + std::to_string(seconds);
  return video;
}

std::string LavfiInput(double seconds, int rate) {
  std::string video = "testsrc=size=320x240:rate=" + std::to_string(rate);
  std::string audio = "sine=frequency=440:sample_rate=44100";
  if (seconds > 0) {
    video += ":duration=" + std::to_string(seconds);
    audio += ":duration=" + std::to_string(seconds);
  }
  return video + "[out0];" + audio + "[out1]";
}

}  // namespace vexa::test
