// Generic option helpers of the engine: the media-library option context
// (TFFOptions) with the routing of unknown options to the codec, format,
// scaler and resampler layers; the typed value parsers; the log-level option;
// per-stream filtering of codec options; array growth; a whole-file reader;
// and small text operations for timestamps and times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <locale.h>

#include "Base/FFmpegException.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace vexa {

// ---------------------------------------------------------------------------
// Owners of library objects

// Owns one AVDictionary (nullptr = empty). Move-only.
class TDictionary {
 public:
  TDictionary() = default;
  explicit TDictionary(AVDictionary* dict) : Dict_(dict) {}
  ~TDictionary() { av_dict_free(&Dict_); }
  TDictionary(TDictionary&& other) noexcept : Dict_(other.Release()) {}
  TDictionary& operator=(TDictionary&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TDictionary(const TDictionary&) = delete;
  TDictionary& operator=(const TDictionary&) = delete;

  AVDictionary* Get() const { return Dict_; }
  // For the library calls that fill or replace a dictionary (av_dict_set,
  // avformat_open_input, avcodec_open2 ...). The object keeps ownership.
  AVDictionary** Address() { return &Dict_; }
  AVDictionary* Release() { return std::exchange(Dict_, nullptr); }
  void Reset(AVDictionary* dict = nullptr) {
    if (dict != Dict_) av_dict_free(&Dict_);
    Dict_ = dict;
  }
  // A deep copy (av_dict_copy).
  TDictionary Clone() const;
  int Count() const { return av_dict_count(Dict_); }
  bool Empty() const { return Dict_ == nullptr || av_dict_count(Dict_) == 0; }
  // Value of the exact (case-sensitive) key, or nullptr.
  const char* Value(const char* key) const;
  // av_dict_set; returns its result.
  int Set(const char* key, const char* value, int flags = 0);

 private:
  AVDictionary* Dict_ = nullptr;
};

// One dictionary per stream, in the shape avformat_find_stream_info expects
// (Data() is the AVDictionary** array). Frees every dictionary. Move-only.
class TDictionaryArray {
 public:
  TDictionaryArray() = default;
  explicit TDictionaryArray(std::size_t count) : Dicts_(count, nullptr) {}
  ~TDictionaryArray() { Clear(); }
  TDictionaryArray(TDictionaryArray&& other) noexcept : Dicts_(std::move(other.Dicts_)) {
    other.Dicts_.clear();
  }
  TDictionaryArray& operator=(TDictionaryArray&& other) noexcept;
  TDictionaryArray(const TDictionaryArray&) = delete;
  TDictionaryArray& operator=(const TDictionaryArray&) = delete;

  std::size_t Size() const { return Dicts_.size(); }
  bool Empty() const { return Dicts_.empty(); }
  // nullptr when empty.
  AVDictionary** Data() { return Dicts_.empty() ? nullptr : Dicts_.data(); }
  AVDictionary* operator[](std::size_t i) const { return Dicts_[i]; }
  AVDictionary** Address(std::size_t i) { return &Dicts_[i]; }
  // Takes ownership of `dict` as element i (the old one is freed).
  void Set(std::size_t i, TDictionary dict);
  void Clear();

 private:
  std::vector<AVDictionary*> Dicts_;
};

struct TSwsContextFree {
  void operator()(SwsContext* ctx) const { sws_freeContext(ctx); }
};
using TSwsContextPtr = std::unique_ptr<SwsContext, TSwsContextFree>;

// ---------------------------------------------------------------------------
// Option context

// The dictionaries of one closed group of options (filled by FinishGroup).
struct TOptionGroupDicts {
  TDictionary CodecOptions;
  TDictionary FormatOptions;
  TDictionary ResampleOptions;   // the fourth dictionary: filled by the option parser
  TSwsContextPtr ScalerOptions;  // receives scaler options (av_opt_set)
  TDictionary ResamplerOptions;  // swresample options

  bool Empty() const {
    return !CodecOptions.Get() && !FormatOptions.Get() && !ResampleOptions.Get() &&
           !ScalerOptions && !ResamplerOptions.Get();
  }
  void Clear();
};

// The working media-library option dictionaries of the option parser (the
// parser keeps its own lists of parsed options). Not thread-safe: one object
// per parser, used on one thread at a time.
class TFFOptions {
 public:
  TFFOptions();  // runs InitOptions
  ~TFFOptions() = default;
  TFFOptions(const TFFOptions&) = delete;
  TFFOptions& operator=(const TFFOptions&) = delete;

  // Uninitialises, then creates the scaler options context (16x16, pixel
  // format 0, ScalerFlags).
  void InitOptions();
  // Frees the scaler context and the four working dictionaries.
  void UninitOptions();
  // Frees the finished group, then InitOptions.
  void ResetOptions();
  // Moves the working dictionaries and the scaler context into FinishedGroup
  // (which must be empty; std::logic_error otherwise) and runs InitOptions.
  void FinishGroup();

  // Routes an option that is not in the engine's own table to the codec,
  // format (library formats and the program's own input formats), scaler and
  // resampler layers; scaler and resampler values are checked with the "C"
  // numeric conventions. Returns 0 when some layer took it,
  // AVERROR_OPTION_NOT_FOUND when none knows it, or the negative error of a
  // scaler/resampler value that does not apply (OptionErrorText is set then).
  // "debug" and "fdebug" also set the logger's level to llDebug.
  int OptDefault(const std::string& name, const std::string& value);

  int ScalerFlags = SWS_BICUBIC;
  TSwsContextPtr ScalerOptions;
  TDictionary ResamplerOptions;
  TDictionary FormatOptions;
  TDictionary CodecOptions;
  TDictionary ResampleOptions;  // fourth dictionary; freed and handed over here
  TOptionGroupDicts FinishedGroup;
};

// ---------------------------------------------------------------------------
// Process-wide last option error text (thread-safe accessors).

std::string OptionErrorText();
void SetOptionErrorText(const std::string& text);
void ClearOptionErrorText();
// Appends `text` after a CRLF, or makes it the text when the text is empty.
void AppendOptionErrorText(const std::string& text);

// ---------------------------------------------------------------------------
// Typed value parsers. Each raises FFmpegException with its message when the
// text cannot be read; they never depend on the process locale.
//
// Integers: the whole text must be an optional '+' or '-' followed by decimal
// digits; no blanks, no hex, no trailing characters; the value must fit the
// type. Floating point: an optional sign, digits with at most one decimal
// separator (DecimalSeparator()), an optional exponent ("e", "E" with optional
// sign and digits); no blanks; the result must be finite. No range limits
// beyond the type's own.

// "Expected integer for \"%s\" but found \"%s\""
int ParseInt(const std::string& optionName, const std::string& text);
// "Expected int64 for \"%s\" but found \"%s\""
int64_t ParseInt64(const std::string& optionName, const std::string& text);
// "Expected float for \"%s\" but found \"%s\""
float ParseFloat(const std::string& optionName, const std::string& text);
// "Expected double for \"%s\" but found \"%s\""
double ParseDouble(const std::string& optionName, const std::string& text);
// av_parse_time with the is-duration flag. Returns microseconds; an
// unreadable text raises the invalid duration / date message (InvalidTimeFormat).
int64_t ParseTime(const std::string& optionName, const std::string& text, bool isDuration);
// printf format of that message: kind ("duration" or "date"), option name, text.
extern const char* const InvalidTimeFormat;

// The user's decimal separator for ParseFloat / ParseDouble (default '.').
// Process-wide; independent of setlocale. SetDecimalSeparator throws
// std::invalid_argument for a blank, a control character, a digit, a sign
// or an exponent letter.
void SetDecimalSeparator(char separator);
char DecimalSeparator();
// The decimal separator of the user's locale as the environment names it
// (LC_ALL, LC_NUMERIC, LANG); '.' when that locale is not available or its
// separator is not a usable single byte. Changes no locale: a program that
// wants the user's separator for ParseFloat / ParseDouble passes this to
// SetDecimalSeparator.
char UserDecimalSeparator();

// While it lives, the calling thread formats and reads numbers with the "C"
// conventions (decimal point '.'), whatever the process locale is; the other
// locale categories and other threads are left alone. The libraries read
// option values with strtod, which follows the locale: under a decimal-comma
// locale (which a desktop toolkit installs with setlocale(LC_ALL, "")) they
// would reject "0.5". Hold one around library calls that parse option values
// (av_opt_set, av_dict-driven opens, filter graph parsing). Nests.
class TCNumericLocale {
 public:
  TCNumericLocale();
  ~TCNumericLocale();
  TCNumericLocale(const TCNumericLocale&) = delete;
  TCNumericLocale& operator=(const TCNumericLocale&) = delete;

 private:
  locale_t Locale_ = static_cast<locale_t>(0);
  locale_t Old_ = static_cast<locale_t>(0);
};

// ---------------------------------------------------------------------------
// Log-level option: a level name ("quiet" ... "debug") or a decimal number
// (media library level). Returns 0, or -22 with the error text in
// OptionErrorText (also logged at error level).
int SetLogLevelOption(const std::string& text);

// ---------------------------------------------------------------------------
// Per-stream codec options

// The entries of `options` that apply to stream `st` of `s` and its codec
// (encoder when `s` is an output, decoder otherwise; looked up by `codecId`
// when `codec` is nullptr). Keys with ":specifier" apply only to matching streams
// and are stored without the specifier; "v"/"a"/"s"-prefixed keys are stored
// without the prefix for streams of that type. An invalid specifier gives an
// empty result.
TDictionary FilterCodecOptions(const AVDictionary* options, AVCodecID codecId, AVFormatContext* s,
                               AVStream* st, const AVCodec* codec);

// One FilterCodecOptions result per stream of `s` (empty without streams).
TDictionaryArray StreamInfoOptions(AVFormatContext* s, const AVDictionary* codecOptions);

// avformat_match_stream_specifier: >0 match, 0 no match, <0 invalid.
int CheckStreamSpecifier(AVFormatContext* s, AVStream* st, const char* specifier);

// ---------------------------------------------------------------------------
// Array growth: grows `array` to `newSize` value-initialised (zeroed)
// elements when it is smaller; never shrinks. Raises "Array too big." when
// newSize >= 2147483647 / sizeof(T), "Could not alloc buffer." when memory
// runs out.
constexpr int64_t GrowArrayLimit(std::size_t elementSize) {
  return elementSize == 0 ? 0 : 2147483647 / static_cast<int64_t>(elementSize);
}

template <typename T, typename Alloc>
void GrowArray(std::vector<T, Alloc>& array, int64_t newSize) {
  if (newSize >= GrowArrayLimit(sizeof(T))) throw FFmpegException("Array too big.");
  if (newSize <= 0 || static_cast<int64_t>(array.size()) >= newSize) return;
  try {
    array.resize(static_cast<std::size_t>(newSize));
  } catch (const std::bad_alloc&) {
    throw FFmpegException("Could not alloc buffer.");
  }
}

// ---------------------------------------------------------------------------
// Files

// Reads a whole regular file into `buffer` and appends a zero byte (counted
// in buffer.size()). Returns 0; -1 when the file cannot be opened ("Cannot
// read file \"%s\"\n"), AVERROR(EIO) for a size that cannot be taken ("IO
// error\n") or a read error ("Error while reading file \"%s\"\n"),
// AVERROR(ENOMEM) ("Could not allocate file buffer\n"), AVERROR_EOF for a
// short read without an error. `buffer` is empty on failure.
int ReadFileToBuffer(const std::string& fileName, std::vector<uint8_t>& buffer);

// Size in bytes of a regular file, -1 when it does not exist or is not a
// regular file.
int64_t FileSize(const std::string& fileName);

// The local file behind an output URL ("file:" prefix removed), or "" when
// the URL is empty or names another protocol ("pipe:1", "rtp://...").
std::string LocalFilePath(const char* url);

// Deletes the local file behind `url` when it is a regular file of 0 bytes:
// an output that never received data. Devices such as /dev/null, pipes and
// other protocols are left alone.
void DeleteEmptyOutputFile(const char* url);

// ---------------------------------------------------------------------------
// Text operations

// "NOPTS" for AV_NOPTS_VALUE, else the decimal integer.
std::string TsText(int64_t ts);
// "NOPTS" for AV_NOPTS_VALUE, else ts * num / den as "%.6g" (always '.').
std::string TsTimeText(int64_t ts, AVRational timeBase);
// "N/A" for AV_NOPTS_VALUE, else "hh:mm:ss.zzz" after adding 5000 us.
std::string TimeText(int64_t microseconds);

// Standard-time offset of the local zone: minutes to add to local time to
// reach UTC (daylight saving is not applied).
int TimeZoneBias();
// "UTC" for offset 0, else "UTC+hh:mm" east of Greenwich, "UTC-hh:mm" west.
std::string TimeZoneText();
std::string TimeZoneText(int biasMinutes);

// Local date-time (days since 1899-12-30, fraction = time of day) of a Unix
// time, using the standard-time bias only.
double UnixToLocal(int64_t unixSeconds);
double UnixToLocal(int64_t unixSeconds, int biasMinutes);
// "yyyy-mm-dd hh:nn:ss" of such a date-time.
std::string DateTimeText(double dateTime);

// 1000000 * den / num microseconds; 1000000 / 25 when num or den is 0.
int64_t FrameDuration(int num, int den);

// "Video", "Audio", "Data", "Subtitle", "Attachment", else "Unknown".
std::string MediaTypeName(int mediaType);

// The text before the first `delimiter` (the whole text when absent); with
// `remove`, `text` keeps only what follows the delimiter (empty when absent).
std::string SplitFirst(std::string& text, const std::string& delimiter, bool remove);

}  // namespace vexa
