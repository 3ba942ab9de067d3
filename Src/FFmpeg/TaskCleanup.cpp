// The open-codec lists and the release of everything a run and the option
// state allocated.

#include <algorithm>
#include <set>

#include "FFLoad/FFLoad.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace vexa {

// --- open-codec lists

namespace {

// Frees an encoder context (the two-pass statistics input is not the
// library's to free) and marks the stream's encoder closed.
void ReleaseEncoder(TOutputStream* AStream) {
  if (AStream->CodecContext) av_freep(&AStream->CodecContext->stats_in);
  AStream->CodecContext.reset();
  AStream->EncoderClosed = true;
}

void ReleaseDecoder(TInputStream* AStream) {
  AStream->CodecContext.reset();
  AStream->DecoderClosed = true;
}

bool EncoderOpen(const TOutputStream* AStream) { return AStream->EncoderOpened && !AStream->EncoderClosed; }
bool DecoderOpen(const TInputStream* AStream) { return !AStream->DecoderClosed; }

// The three list operations, alike for encoders and decoders; the caller
// holds CodecListLock.
template <typename S>
void AddListed(std::list<S*>& AList, S* AStream) {
  if (std::find(AList.begin(), AList.end(), AStream) == AList.end()) AList.push_front(AStream);
}

template <typename S>
void CloseListed(std::list<S*>& AList, S* AStream, bool (*AOpen)(const S*), void (*ARelease)(S*)) {
  const auto it = std::find(AList.begin(), AList.end(), AStream);
  if (it == AList.end()) return;
  AList.erase(it);
  if (AOpen(AStream)) ARelease(AStream);
}

template <typename S>
void CloseAllListed(std::list<S*>& AList, bool (*AOpen)(const S*), void (*ARelease)(S*)) {
  for (S* stream : AList)
    if (AOpen(stream)) ARelease(stream);
  AList.clear();
}

}  // namespace

void TCustomFFmpeg::AddOpenEncoder(TOutputStream* AStream) {
  std::lock_guard<std::mutex> guard(CodecListLock());
  AddListed(OpenEncoders_, AStream);
}

void TCustomFFmpeg::AddOpenDecoder(TInputStream* AStream) {
  std::lock_guard<std::mutex> guard(CodecListLock());
  AddListed(OpenDecoders_, AStream);
}

void TCustomFFmpeg::CloseEncoder(TOutputStream* AStream) {
  std::lock_guard<std::mutex> guard(CodecListLock());
  CloseListed(OpenEncoders_, AStream, &EncoderOpen, &ReleaseEncoder);
}

void TCustomFFmpeg::CloseDecoder(TInputStream* AStream) {
  std::lock_guard<std::mutex> guard(CodecListLock());
  CloseListed(OpenDecoders_, AStream, &DecoderOpen, &ReleaseDecoder);
}

void TCustomFFmpeg::CloseOpenEncoders() {
  std::lock_guard<std::mutex> guard(CodecListLock());
  CloseAllListed(OpenEncoders_, &EncoderOpen, &ReleaseEncoder);
}

void TCustomFFmpeg::CloseOpenDecoders() {
  std::lock_guard<std::mutex> guard(CodecListLock());
  CloseAllListed(OpenDecoders_, &DecoderOpen, &ReleaseDecoder);
}

size_t TCustomFFmpeg::OpenEncoderCount() const {
  std::lock_guard<std::mutex> guard(CodecListLock());
  return OpenEncoders_.size();
}

size_t TCustomFFmpeg::OpenDecoderCount() const {
  std::lock_guard<std::mutex> guard(CodecListLock());
  return OpenDecoders_.size();
}

// --- clean-up

void TCustomFFmpeg::Cleanup() {
  FFLoader().CheckLibs(EncoderLibs);
  FreeEngineData();
  ReleaseHooks();
}

void TCustomFFmpeg::FreeEngineData() {
  // 1. Filter graphs with their endpoints.
  FilterGraphs.clear();
  // 2. The subtitle output buffer.
  SubtitleBuffer.clear();
  SubtitleBuffer.shrink_to_fit();
  // 3. Codecs still open on the output streams; the dictionaries go with the
  // records.
  for (auto& stream : OutputStreams)
    if (stream && stream->CodecContext && !stream->EncoderClosed) ReleaseEncoder(stream.get());
  {
    std::lock_guard<std::mutex> guard(CodecListLock());
    OpenEncoders_.clear();
  }
  // 4. Output files: each format context once (join groups share it).
  std::set<AVFormatContext*> freed;
  for (auto& file : OutputFiles) {
    if (!file) continue;
    AVFormatContext* context = file->FormatContext;
    file->FormatContext = nullptr;
    if (!context || !freed.insert(context).second) continue;
    if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE) && context->pb) {
      avio_closep(&context->pb);
      DeleteEmptyOutputFile(context->url);
    }
    avformat_free_context(context);
  }
  OutputFiles.clear();
  OutputStreams.clear();
  // 5. Input files (each closes its format context), 6. input streams.
  InputFiles.clear();
  {
    std::lock_guard<std::mutex> guard(CodecListLock());
    OpenDecoders_.clear();
  }
  InputStreams.clear();
  // 7. The video statistics file.
  VStatsFile_.reset();
  VstatsFileName.clear();
  // The progress output normally closes with the final report; an aborted
  // run leaves it here.
  ProgressOutput.reset();
}

}  // namespace vexa
