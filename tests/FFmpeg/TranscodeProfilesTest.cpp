// The recorder's seven output profiles transcode lavfi video and audio into
// files that decode again with the expected streams, codecs and lengths.
#include <gtest/gtest.h>

#include <cmath>

#include "Support/MediaOwners.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace vexa::test {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 25;
constexpr double kSeconds = 2.0;
constexpr int kRate = 44100;

struct TProfile {
  const char* Name;
  const char* Extension;
  const char* Codecs;  // the format's codec text of the output line
  const char* Video;   // expected codec names
  const char* Audio;
  const char* Format;  // demuxer name read back (prefix)
  int AudioFrame;      // samples per frame of the audio encoder
  const char* AudioEncoder;
  bool KeepsPriming;             // the container cannot tell the decoder to skip the encoder's priming samples
  bool AudioUpToLastVideoFrame;  // SWF stores sound with its video frames: none after the last one starts
};

// The priming samples (initial padding) the audio encoder puts before the
// first input sample, for the profiles' audio settings.
int EncoderPriming(const char* name) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) return -1;
  TCodecPtr enc(avcodec_alloc_context3(codec));
  if (!enc) return -1;
  enc->sample_rate = kRate;
  av_channel_layout_default(&enc->ch_layout, 2);
  enc->bit_rate = 128000;
  enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  enc->time_base = AVRational{1, kRate};
  return avcodec_open2(enc.get(), codec, nullptr) < 0 ? -1 : enc->initial_padding;
}

// The output line as the recorder builds it, for a region of kWidth x kHeight
// with sound, quality 6, 768 kbit/s and two processors.
std::string OutputLine(const TProfile& p) {
  std::string line;
  if (std::string(p.Name) == "mp4") line += " -c:v mpeg4 -c:a aac";
  line += " -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight);
  line += p.Codecs;
  line += " -ac 2 ";
  line += " -b:a 128k -ar " + std::to_string(kRate);
  line += " -sn -b:v 768k -qscale 6  -threads 2";
  line += "   -async 1 -vsync 1 ";
  return line;
}

class TranscodeProfilesTest : public ::testing::TestWithParam<TProfile> {};

TEST_P(TranscodeProfilesTest, WritesADecodableFile) {
  const TProfile& p = GetParam();
  TTempDir dir;
  const std::string out = dir.Path(std::string("rec") + p.Extension);
  TTranscodeLog log;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddLavfi(kWidth, kHeight, kFps, kSeconds, kRate));
    ASSERT_GE(task.AddOutput(out, OutputLine(p)), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
    EXPECT_TRUE(task.Finished);
  }

  const TDecodedFile file = DecodeFile(out);
  EXPECT_EQ(file.Format.rfind(p.Format, 0), 0u) << file.Format;
  ASSERT_EQ(file.Streams.size(), 2u);
  const TDecodedStream* v = file.First(AVMEDIA_TYPE_VIDEO);
  const TDecodedStream* a = file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(v->Codec, p.Video);
  EXPECT_EQ(a->Codec, p.Audio);
  EXPECT_EQ(v->Width, kWidth);
  EXPECT_EQ(v->Height, kHeight);
  EXPECT_EQ(a->SampleRate, kRate);
  EXPECT_EQ(a->Channels, 2);
  EXPECT_EQ(v->DecodeErrors, 0);
  EXPECT_EQ(a->DecodeErrors, 0);
  EXPECT_NEAR(static_cast<double>(v->Frames), kFps * kSeconds, 1.0);
  // Within one audio frame of the encoder; where the container keeps the
  // encoder's priming, the decoder returns those samples too.
  const int priming = EncoderPriming(p.AudioEncoder);
  ASSERT_GE(priming, 0) << p.AudioEncoder;
  const double expected = kSeconds * kRate + (p.KeepsPriming ? priming : 0) -
                          (p.AudioUpToLastVideoFrame ? static_cast<double>(kRate) / kFps : 0.0);
  EXPECT_NEAR(static_cast<double>(a->Samples), expected, p.AudioFrame)
      << "priming " << priming << ", packets end " << a->PacketEnd << " s";
  EXPECT_GT(file.Size, 10000);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, TranscodeProfilesTest,
    ::testing::Values(
        TProfile{"mp4", ".mp4", "", "mpeg4", "aac", "mov", 1024, "aac", false, false},
        TProfile{"swf", ".swf", " -c:a libmp3lame", "flv1", "mp3", "swf", 1152, "libmp3lame", true, true},
        TProfile{"flv", ".flv", " -c:a libmp3lame", "flv1", "mp3", "flv", 1152, "libmp3lame", true, false},
        TProfile{"wmv", ".wmv", " -c:v wmv2 -c:a wmav2", "wmv2", "wmav2", "asf", 2048, "wmav2", false, false},
        TProfile{"mkv", ".mkv", " -pix_fmt yuv420p  -c:v libx264 ", "h264", "vorbis", "matroska", 2048, "libvorbis",
                 false, false},
        TProfile{"avi", ".avi", " -c:v rawvideo", "rawvideo", "mp3", "avi", 1152, "libmp3lame", true, false},
        TProfile{"webm", ".webm", " -f webm  -c:v libvpx -c:a libvorbis", "vp8", "vorbis", "matroska", 2048,
                 "libvorbis", false, false}),
    [](const ::testing::TestParamInfo<TProfile>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vexa::test
