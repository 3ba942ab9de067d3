#include <mutex>
#include <optional>
#include <stdexcept>

#include "Base/ProgramFormats.h"
#include "FFUtils/FFUtils.h"
#include "FFUtils/UtilLog.h"

extern "C" {
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace vexa {

using utils_detail::FormatText;
using utils_detail::LogLineFmt;

// ---------------------------------------------------------------------------
// OptionErrorText

namespace {

// Never freed: a worker may still fail an option while the process exits.
std::mutex& ErrorTextLock() {
  static std::mutex* const lock = new std::mutex;
  return *lock;
}

std::string& ErrorTextStore() {
  static std::string* const text = new std::string;
  return *text;
}

}  // namespace

std::string OptionErrorText() {
  std::lock_guard<std::mutex> guard(ErrorTextLock());
  return ErrorTextStore();
}

void SetOptionErrorText(const std::string& text) {
  std::lock_guard<std::mutex> guard(ErrorTextLock());
  ErrorTextStore() = text;
}

void ClearOptionErrorText() { SetOptionErrorText(std::string()); }

void AppendOptionErrorText(const std::string& text) {
  std::lock_guard<std::mutex> guard(ErrorTextLock());
  std::string& store = ErrorTextStore();
  if (!store.empty()) store += "\r\n";
  store += text;
}

// ---------------------------------------------------------------------------
// TFFOptions

TFFOptions::TFFOptions() { InitOptions(); }

void TFFOptions::InitOptions() {
  UninitOptions();
  ScalerOptions.reset(sws_getContext(16, 16, static_cast<AVPixelFormat>(0), 16, 16,
                                     static_cast<AVPixelFormat>(0), ScalerFlags, nullptr, nullptr,
                                     nullptr));
}

void TFFOptions::UninitOptions() {
  ScalerOptions.reset();
  ResamplerOptions.Reset();
  FormatOptions.Reset();
  CodecOptions.Reset();
  ResampleOptions.Reset();
}

void TFFOptions::ResetOptions() {
  FinishedGroup.Clear();
  InitOptions();
}

void TFFOptions::FinishGroup() {
  if (!FinishedGroup.Empty())
    throw std::logic_error("TFFOptions::FinishGroup: the finished group is still in use");
  FinishedGroup.CodecOptions = std::move(CodecOptions);
  FinishedGroup.FormatOptions = std::move(FormatOptions);
  FinishedGroup.ResampleOptions = std::move(ResampleOptions);
  FinishedGroup.ScalerOptions = std::move(ScalerOptions);
  FinishedGroup.ResamplerOptions = std::move(ResamplerOptions);
  InitOptions();
}

namespace {

const AVOption* FindOnClass(const AVClass* cls, const char* name, int searchFlags) {
  if (!cls) return nullptr;
  const AVClass* fake = cls;
  return av_opt_find(&fake, name, nullptr, 0, searchFlags | AV_OPT_SEARCH_FAKE_OBJ);
}

// The format layer: the library's formats (children of the format class) and
// the program's own input formats, which the library's search does not know.
const AVOption* FindFormatOption(const char* name) {
  if (const AVOption* o = FindOnClass(avformat_get_class(), name, AV_OPT_SEARCH_CHILDREN))
    return o;
  for (const AVClass* cls : ProgramInputFormatClasses())
    if (const AVOption* o = FindOnClass(cls, name, AV_OPT_SEARCH_CHILDREN)) return o;
  return nullptr;
}

int DictFlagsFor(const AVOption* o) { return o && o->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0; }

int SettingFailed(const std::string& name, int err) {
  SetOptionErrorText(FormatText("Error setting option \"%s\"", name.c_str()));
  LogLineFmt(llError, "Error setting option \"%s\"\n", name.c_str());
  return err;
}

struct TSwrFree {
  void operator()(SwrContext* ctx) const { swr_free(&ctx); }
};

}  // namespace

int TFFOptions::OptDefault(const std::string& name, const std::string& value) {
  if (name == "debug" || name == "fdebug") GetFFLogger().SetLogLevel(llDebug);

  std::string stripped = name.substr(0, name.find(':'));
  if (stripped.size() > 127) stripped.resize(127);

  const char* key = name.c_str();
  const char* val = value.c_str();
  bool consumed = false;

  // Codec layer: the stripped name, or the name without a media-type letter.
  const AVClass* codecClass = avcodec_get_class();
  const AVOption* o = FindOnClass(codecClass, stripped.c_str(), AV_OPT_SEARCH_CHILDREN);
  if (!o && !stripped.empty() && (stripped[0] == 'a' || stripped[0] == 's' || stripped[0] == 'v'))
    o = FindOnClass(codecClass, stripped.c_str() + 1, 0);
  if (o) {
    const int err = CodecOptions.Set(key, val, DictFlagsFor(o));
    if (err < 0) return SettingFailed(name, err);
    consumed = true;
  }

  // Format layer: the full name.
  if ((o = FindFormatOption(key))) {
    const int err = FormatOptions.Set(key, val, DictFlagsFor(o));
    if (err < 0) return SettingFailed(name, err);
    if (consumed) LogLineFmt(llVerbose, "Routing %s to codec and muxer layer\n", key);
    consumed = true;
  }

  // The scaler and resampler values are parsed now; "0.5" must read as a
  // number under any process locale.
  std::optional<TCNumericLocale> numericLocale;
  if (!consumed) numericLocale.emplace();

  // Scaler layer: set on the scaler options context at once.
  if (!consumed && FindOnClass(sws_get_class(), key, AV_OPT_SEARCH_CHILDREN)) {
    if (!ScalerOptions) return SettingFailed(name, AVERROR(ENOMEM));
    const int err = av_opt_set(ScalerOptions.get(), key, val, 0);
    if (err < 0) return SettingFailed(name, err);
    consumed = true;
  }

  // Resampler layer: the value is tried on a scratch context, then kept.
  if (!consumed && (o = FindOnClass(swr_get_class(), key, AV_OPT_SEARCH_CHILDREN))) {
    std::unique_ptr<SwrContext, TSwrFree> scratch(swr_alloc());
    if (!scratch) return SettingFailed(name, AVERROR(ENOMEM));
    int err = av_opt_set(scratch.get(), key, val, 0);
    if (err < 0) return SettingFailed(name, err);
    err = ResamplerOptions.Set(key, val, DictFlagsFor(o));
    if (err < 0) return SettingFailed(name, err);
    consumed = true;
  }

  return consumed ? 0 : AVERROR_OPTION_NOT_FOUND;
}

}  // namespace vexa
