// Option processing base of the transcoding engine: the option table, the
// option-line parser and the option handlers.
//
// Every input and output of a task is described by an option line in the
// syntax of the FFmpeg command line, without file names, plus an optional
// preset text of key=value lines. ParseOptions sorts one line into a global
// group (engine-wide settings) and a file group (TFileOptions and the
// media-library dictionaries of TFFOptions::FinishedGroup) and applies both.
//
// Error conventions: parse errors are returned as negative codes (with
// StrictOptions they end the add with LastErrorText set; without, they are
// logged and parsing goes on). Numbers and times that cannot be read raise
// FFmpegException whatever StrictOptions says. Fatal conditions go through
// AbortWithError, which logs at llFatal, keeps LastErrorText and raises
// FFmpegException.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Base/FFmpegException.h"
#include "FFUtils/FFUtils.h"
#include "FFmpegOpt/FileOptions.h"
#include "FFmpegOpt/FilterGraph.h"
#include "FFmpegOpt/InputFile.h"
#include "FFmpegOpt/OptionDefs.h"
#include "FFmpegOpt/OutputFile.h"

extern "C" {
#include <libavformat/avio.h>
}

namespace vexa {

// Tokenizes an option line: blanks and tabs separate tokens; double quotes
// group blanks into a token and are removed; a run of backslashes before a
// quote is halved, an odd run making the quote literal; backslashes before
// anything else are copied. Inside quotes, a quote followed by exactly one
// more quote at the very end of the line yields a literal quote.
std::vector<std::string> SplitOptionLine(const std::string& line);

struct TAVIOContextClose {
  void operator()(AVIOContext* io) const { avio_closep(&io); }
};
using TAVIOContextPtr = std::unique_ptr<AVIOContext, TAVIOContextClose>;

class TCustomFFmpegOpt {
 public:
  TCustomFFmpegOpt();
  virtual ~TCustomFFmpegOpt();
  TCustomFFmpegOpt(const TCustomFFmpegOpt&) = delete;
  TCustomFFmpegOpt& operator=(const TCustomFFmpegOpt&) = delete;

  // --- option table
  // Fills the table once; a second call does nothing.
  void BuildOptionTable();
  const std::vector<TOptionDef>& OptionTable() const { return OptionTable_; }
  // The first row whose name equals `name` up to its first ":", or nullptr.
  const TOptionDef* FindOption(const std::string& name) const;

  // --- per-file option sets
  // Resets `o` to its defaults, re-initialises the option dictionaries and the
  // groups, and points o.Group at the file group.
  void InitFileOptions(TFileOptions& o);
  // Releases everything `o` and the groups hold (o returns to its defaults).
  void FreeFileOptions(TFileOptions& o);

  // --- parsing
  // Parses one option line into `o` and the engine settings, then applies the
  // preset text. `label` names the kind of file in messages ("input file",
  // "output file"). Returns >= 0 on success.
  int ParseOptions(TFileOptions& o, const std::optional<std::string>& line, const std::string& label,
                   const std::optional<std::string>& presets = std::nullopt);
  // Parses one name/argument pair through the table. Returns the row's
  // ofHasArg bit (0 or 1) on success, a negative code on failure.
  int ParseOption(TFileOptions* o, const std::string& name, const std::optional<std::string>& arg);
  // Applies a preset text (key=value lines; "<CRLF>" separates entries too).
  int ParsePresets(TFileOptions& o, const std::string& presets, const std::string& label);
  // Sorts tokens into GlobalGroup and FileGroup (and the working media-library
  // dictionaries, finished into the file group at the end).
  int GroupOptions(const std::vector<std::string>& tokens);
  int ApplyOptionGroup(TFileOptions* o, const std::vector<TOptionEntry>& group, const std::string& label);
  int WriteOption(TFileOptions* o, const TOptionDef& def, const std::string& name, const std::string& arg);

  // --- failures
  [[noreturn]] void AbortWithError(const std::string& message);
  [[noreturn]] void AbortWithError(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // --- per-stream matching
  // The last element of `list` whose specifier matches stream `st` of `s`, or
  // nullptr. An invalid specifier aborts ("check_stream_specifier: ...").
  const TSpecifierValue* MatchPerStream(const TSpecifierList& list, AVFormatContext* s, AVStream* st);
  // The last element whose specifier is exactly `type` ("v", "a", "s"), for
  // callers without a stream at hand; nullptr when none.
  static const TSpecifierValue* MatchMediaType(const TSpecifierList& list, const char* type);

  // --- engine-wide settings (kept across adds)
  std::string VstatsFileName;
  float AudioDriftThreshold = 0.1f;
  float DtsDeltaThreshold = 10.0f;
  float DtsErrorThreshold = 108000.0f;
  int AudioVolume = 256;
  int AudioSyncMethod = 0;
  int VideoSyncMethod = -1;  // automatic
  int DoDeinterlace = 0;
  int DoHexDump = 0;
  int DoPktDump = 0;
  int CopyTs = 0;
  int CopyTb = -1;
  int DebugTs = 0;
  int ExitOnError = 0;
  int PrintStats = -1;
  int QpHist = 0;
  int FrameBitsPerRawSample = 0;
  int IntraOnly = 0;
  int FileOverwrite = 0;
  int NoFileOverwrite = 0;
  int VideoDiscard = 0;
  int IntraDcPrecision = 8;
  int DoPsnr = 0;
  int InputSync = 0;

  bool StrictOptions = true;
  std::string LastErrorText;
  int64_t LastReadTime = INT64_MAX;   // wall clock (av_gettime) before blocking input calls; INT64_MAX: none yet
  int64_t LastWriteTime = INT64_MAX;  // wall clock before blocking output calls; INT64_MAX: none yet
  int ReadTimeout = 30000;   // ms; a read without progress for longer is interrupted; <= 0: never
  int WriteTimeout = 30000;  // ms; the same for writes

  // --- inputs and outputs (InputFiles.cpp, OutputFiles.cpp)
  // Opens one input: parses `line` (label "input file"), opens and probes the
  // demuxer (program input formats first for -f NAME) and appends its
  // TInputFile and TInputStream records. Returns the new input file's index or
  // a negative code with LastErrorText set; fatal conditions raise.
  int OpenInputFile(TFileOptions& o, const std::optional<std::string>& line, const std::string& fileName,
                    const std::optional<std::string>& presets = std::nullopt);
  // Creates one output: parses `line` (label "output file"), creates the muxer
  // context, maps streams, opens the file and copies metadata and chapters.
  // Returns the new output file's index, the ParseOptions code, or -1 with
  // LastErrorText set; fatal conditions raise (the output is released first).
  int OpenOutputFile(TFileOptions& o, const std::optional<std::string>& line, bool join,
                     const std::string& fileName, const std::optional<std::string>& presets = std::nullopt);
  // Encoder or decoder by name (or by codec descriptor name); aborts with
  // "Unknown %s \"%s\"" / "Invalid %s type \"%s\"".
  const AVCodec* FindCodecOrAbort(const std::string& name, AVMediaType type, bool encoder);
  // Closes and frees every output context still held (each once; join
  // groups share one), deleting files that stayed empty; clears OutputFiles.
  void ReleaseOutputFiles();

  // --- output streams (StreamOptions.cpp)
  // The common creation of an output stream in `oc` fed by input stream
  // `source` (-1: none): library stream, record, encoder choice, codec
  // defaults, frame limit, bitstream filters, tag, quality, option copies.
  // Failures abort; the record is appended to OutputStreams.
  TOutputStream* NewOutputStream(TFileOptions& o, AVFormatContext* oc, AVMediaType type, int source);
  TOutputStream* NewVideoStream(TFileOptions& o, AVFormatContext* oc, int source);
  TOutputStream* NewAudioStream(TFileOptions& o, AVFormatContext* oc, int source);
  TOutputStream* NewSubtitleStream(TFileOptions& o, AVFormatContext* oc, int source);
  TOutputStream* NewDataStream(TFileOptions& o, AVFormatContext* oc, int source);
  TOutputStream* NewAttachmentStream(TFileOptions& o, AVFormatContext* oc, int source);
  // Sets ost.Encoder / ost.StreamCopy and the codec id from -c (or the
  // format's default codec for the file name).
  void ChooseEncoder(TFileOptions& o, AVFormatContext* oc, TOutputStream& ost);
  // Exactly 64 comma-separated decimal coefficients (more text after the
  // 64th is ignored); aborts with "Syntax error in matrix ..." otherwise.
  void ParseMatrix(uint16_t* matrix, const std::string& text);

  // --- filter graphs (FilterGraphs.cpp)
  // A one-input, one-output graph from ist to ost, described by ost's
  // FilterDescription; appended to FilterGraphs.
  TFilterGraph* InitSimpleFilterGraph(TInputStream& ist, TOutputStream& ost);
  // (Re)builds the library graph. 0 or a negative library code.
  int ConfigureFilterGraph(TFilterGraph& fg);
  // One build of the library graph (ConfigureFilterGraph decides the input
  // conversion around it).
  int BuildFilterGraph(TFilterGraph& fg);
  // Configures every complex graph not configured yet; the first error.
  int ConfigureComplexFilterGraphs();
  // Creates the output stream for an unbound complex-graph output.
  void BindOutputFilter(TOutputFilter& ofilter, TFileOptions& o, AVFormatContext* oc);
  static bool InputInFilterGraph(const TFilterGraph& fg, const TInputStream& ist);

  // Called with the engine and the format context right before an input's
  // streams are probed (the encoder component forwards it to its event).
  std::function<void(TCustomFFmpegOpt* sender, AVFormatContext* context)> OnBeforeFindStreamInfo;
  int64_t LongestInputDuration = -1;  // microseconds; -1: none seen
  int64_t TotalDuration = -1;         // microseconds; negative: no expected length
  bool Joined = false;                // an output joins all inputs
  int JoinGroupSize = 0;              // output streams per join segment

  // --- the task's lists
  std::vector<std::unique_ptr<TInputStream>> InputStreams;
  std::vector<std::unique_ptr<TInputFile>> InputFiles;
  std::vector<std::unique_ptr<TOutputStream>> OutputStreams;
  std::vector<std::unique_ptr<TOutputFile>> OutputFiles;
  std::vector<std::unique_ptr<TFilterGraph>> FilterGraphs;

  // Media-library option dictionaries; FinishedGroup is the file group.
  TFFOptions FFOptions;
  std::vector<TOptionEntry> GlobalGroup;
  std::vector<TOptionEntry> FileGroup;

  // The output opened by -progress (never written by option processing).
  TAVIOContextPtr ProgressOutput;

 protected:
  // Interrupt callbacks for the engine's blocking I/O; the task supplies its own.
  virtual AVIOInterruptCB ReadInterruptCallback();
  virtual AVIOInterruptCB WriteInterruptCallback();
  // Opens the -progress URL for writing into ProgressOutput.
  virtual int OpenProgressOutput(const std::string& url);

  // The two handlers the transcoding task supplies; here they fail the option.
  virtual int OptVHook(TFileOptions* o, const std::string& opt, const std::string& arg);
  virtual int OptVideoHookBitsPixel(TFileOptions* o, const std::string& opt, const std::string& arg);

  // Offers name = value to the media-library options and carries the codec and
  // format options so set into the file group's dictionaries.
  int OfferFileOption(const std::string& name, const std::string& value);

 private:
  void LogLevelPreScan(const std::vector<std::string>& tokens);
  int ApplyPresetEntry(TFileOptions& o, const std::string& key, const std::string& value);
  int ApplyPresetLines(TFileOptions& o, const std::string& text, const std::string& syntaxPrefix,
                       const std::string& optionPrefix);
  std::string FindPresetFile(const std::string& name) const;
  // Join mode: the output streams and files of inputs 1 ... n-1 (OutputFiles.cpp).
  int BuildJoinGroup(TFileOptions& o, int fileIndex);

  // Handlers (OptionTable.cpp binds them to their rows).
  int OptIgnored(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptUnsupported(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptRemoved(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptSwitch(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptLogLevel(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptMaxAlloc(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptCpuFlags(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptMap(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptMapChannel(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptAttach(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptStreamId(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptTimestamp(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptTarget(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptProgress(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptVSync(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptQScale(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptProfile(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptBitrate(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptFilterComplex(TFileOptions* o, const std::string& opt, const std::string& arg);
  // Rows that hand their argument on to another row (vcodec -> codec:v, ...).
  int OptForward(TFileOptions* o, const std::string& opt, const std::string& arg);
  // TimeStart / TimeLength: seconds, forwarded in microseconds.
  int OptSeconds(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptOldTypedName(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptTimecode(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptChannelLayout(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptDeinterlace(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptVStats(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptVStatsFile(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptVideoChannel(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptVideoStandard(TFileOptions* o, const std::string& opt, const std::string& arg);
  int OptPresetFile(TFileOptions* o, const std::string& opt, const std::string& arg);

  int SetFileCodecOption(TFileOptions* o, const std::string& key, const std::string& value);
  int SetFileFormatOption(TFileOptions* o, const std::string& key, const std::string& value);
  void AddRow(const char* name, uint32_t flags, TOptionTarget target, const char* help,
              const char* argName = "");

  std::vector<TOptionDef> OptionTable_;
};

}  // namespace vexa
