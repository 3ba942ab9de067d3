#include "FFmpegOpt/FFmpegOpt.h"

#include <cstdarg>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/OptionText.h"

namespace vexa {

TCustomFFmpegOpt::TCustomFFmpegOpt() = default;

TCustomFFmpegOpt::~TCustomFFmpegOpt() { ReleaseOutputFiles(); }

void TCustomFFmpegOpt::InitFileOptions(TFileOptions& o) {
  o = TFileOptions();
  GlobalGroup.clear();
  FileGroup.clear();
  FFOptions.ResetOptions();
  o.Group = &FFOptions.FinishedGroup;
}

void TCustomFFmpegOpt::FreeFileOptions(TFileOptions& o) {
  o = TFileOptions();
  GlobalGroup.clear();
  FileGroup.clear();
  FFOptions.ResetOptions();
}

void TCustomFFmpegOpt::AbortWithError(const std::string& message) {
  LastErrorText = message;
  Log(this, llFatal, message);
  throw FFmpegException(message);
}

void TCustomFFmpegOpt::AbortWithError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = StrFormatV(format, args);
  va_end(args);
  AbortWithError(message);
}

const TSpecifierValue* TCustomFFmpegOpt::MatchPerStream(const TSpecifierList& list, AVFormatContext* s,
                                                        AVStream* st) {
  const TSpecifierValue* result = nullptr;
  for (const TSpecifierValue& item : list) {
    const int ret = CheckStreamSpecifier(s, st, item.Specifier.c_str());
    if (ret > 0)
      result = &item;
    else if (ret < 0)
      AbortWithError(ErrorText("check_stream_specifier", ret));
  }
  return result;
}

const TSpecifierValue* TCustomFFmpegOpt::MatchMediaType(const TSpecifierList& list, const char* type) {
  const TSpecifierValue* result = nullptr;
  for (const TSpecifierValue& item : list)
    if (item.Specifier == type) result = &item;
  return result;
}

AVIOInterruptCB TCustomFFmpegOpt::ReadInterruptCallback() { return AVIOInterruptCB{nullptr, nullptr}; }

AVIOInterruptCB TCustomFFmpegOpt::WriteInterruptCallback() { return AVIOInterruptCB{nullptr, nullptr}; }

}  // namespace vexa
