// Handlers that select streams of the opened inputs or describe output
// streams: -map, -map_channel, -streamid, -attach, -filter_complex.
#include <cctype>
#include <climits>
#include <new>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/mem.h>
}

namespace vexa {

namespace {

// Reads integers by a pattern of "%d" and literal characters, as sscanf
// would: "%d" skips blanks and reads an optional sign and digits; a literal
// must match exactly. Returns the number of integers read; values beyond the
// int range are clamped.
int ScanInts(const std::string& text, const char* pattern, int* out) {
  std::size_t p = 0;
  int count = 0;
  for (const char* f = pattern; *f; ++f) {
    if (f[0] == '%' && f[1] == 'd') {
      ++f;
      std::size_t q = p;
      while (q < text.size() && std::isspace(static_cast<unsigned char>(text[q]))) ++q;
      bool negative = false;
      if (q < text.size() && (text[q] == '+' || text[q] == '-')) negative = text[q++] == '-';
      const std::size_t digits = q;
      long long value = 0;
      while (q < text.size() && std::isdigit(static_cast<unsigned char>(text[q]))) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[q] - '0');
        ++q;
      }
      if (q == digits) return count;
      if (negative) value = -value;
      if (value > INT_MAX) value = INT_MAX;
      if (value < INT_MIN) value = INT_MIN;
      out[count++] = static_cast<int>(value);
      p = q;
    } else {
      if (p >= text.size() || text[p] != *f) return count;
      ++p;
    }
  }
  return count;
}

std::string StripColon(const std::string& text) {
  return !text.empty() && text[0] == ':' ? text.substr(1) : text;
}

}  // namespace

int TCustomFFmpegOpt::OptMap(TFileOptions* o, const std::string&, const std::string& arg) {
  if (!o) return AVERROR(EINVAL);
  std::string map = arg;
  const bool negative = !map.empty() && map[0] == '-';
  if (negative) map.erase(0, 1);

  bool hasSync = false;
  int syncFile = 0;
  int syncStream = -1;
  const std::string::size_type comma = map.find(',');
  if (comma != std::string::npos) {
    const std::string sync = map.substr(comma + 1);
    map.resize(comma);
    std::size_t end = 0;
    syncFile = LeadingInt(sync, end);
    if (syncFile < 0 || syncFile >= static_cast<int>(InputFiles.size()))
      AbortWithError("Invalid sync file index: %d.", syncFile);
    const std::string specifier = StripColon(sync.substr(end));
    const TInputFile& file = *InputFiles[static_cast<std::size_t>(syncFile)];
    for (int i = 0; i < file.StreamCount; ++i) {
      const std::size_t index = static_cast<std::size_t>(file.FirstStreamIndex + i);
      if (!file.FormatContext || index >= InputStreams.size()) break;
      const int ret = CheckStreamSpecifier(file.FormatContext, InputStreams[index]->Stream, specifier.c_str());
      if (ret < 0) AbortWithError(ErrorText("check_stream_specifier", ret));
      if (ret == 1) {
        syncStream = i;
        break;
      }
    }
    if (syncStream < 0)
      AbortWithError("Sync stream spe" "cification in map %s does not match any streams.", arg.c_str());
    hasSync = true;
  }

  if (!map.empty() && map[0] == '[') {
    const char* p = map.c_str() + 1;
    char* label = av_get_token(&p, "]");
    if (!label) AbortWithError("Invalid output link label: %s.", map.c_str());
    TStreamMap m;
    m.LinkLabel = label;
    av_free(label);
    o->StreamMaps.push_back(std::move(m));
    return 0;
  }

  std::size_t end = 0;
  const int fileIndex = LeadingInt(map, end);
  if (fileIndex < 0 || fileIndex >= static_cast<int>(InputFiles.size()))
    AbortWithError("Invalid input file index: %d.", fileIndex);
  const std::string specifier = StripColon(map.substr(end));
  const TInputFile& file = *InputFiles[static_cast<std::size_t>(fileIndex)];
  auto streamOf = [&](int streamIndex) -> AVStream* {
    const std::size_t index = static_cast<std::size_t>(file.FirstStreamIndex) + static_cast<std::size_t>(streamIndex);
    if (!file.FormatContext || streamIndex < 0 || streamIndex >= file.StreamCount || index >= InputStreams.size())
      return nullptr;
    return InputStreams[index]->Stream;
  };
  auto matches = [&](AVStream* st) {
    if (!st) return false;
    const int ret = CheckStreamSpecifier(file.FormatContext, st, specifier.c_str());
    if (ret < 0) AbortWithError(ErrorText("check_stream_specifier", ret));
    return ret > 0;
  };

  bool any = false;
  if (negative) {
    for (TStreamMap& m : o->StreamMaps) {
      if (!m.LinkLabel.empty() || m.FileIndex != fileIndex) continue;
      if (matches(streamOf(m.StreamIndex))) {
        m.Disabled = 1;
        any = true;
      }
    }
  } else {
    for (int i = 0; i < file.StreamCount; ++i) {
      if (!matches(streamOf(i))) continue;
      TStreamMap m;
      m.FileIndex = fileIndex;
      m.StreamIndex = i;
      m.SyncFileIndex = hasSync ? syncFile : fileIndex;
      m.SyncStreamIndex = hasSync ? syncStream : i;
      o->StreamMaps.push_back(std::move(m));
      any = true;
    }
  }
  if (!any) AbortWithError("Stream map \"%s\" matches no streams.", arg.c_str());
  return 0;
}

int TCustomFFmpegOpt::OptMapChannel(TFileOptions* o, const std::string&, const std::string& arg) {
  if (!o) return AVERROR(EINVAL);
  TAudioChannelMap m;
  int v[5] = {0, 0, 0, 0, 0};
  int n = ScanInts(arg, "%d:%d.%d", v);
  m.ChannelIndex = v[0];
  if ((n == 1 || n == 3) && m.ChannelIndex == -1) {
    m.FileIndex = -1;
    m.StreamIndex = -1;
    m.OutputFileIndex = n == 1 ? -1 : v[1];
    m.OutputStreamIndex = n == 1 ? -1 : v[2];
    o->AudioChannelMaps.push_back(m);
    return 0;
  }

  n = ScanInts(arg, "%d.%d.%d:%d.%d", v);
  if (n != 3 && n != 5) AbortWithError("Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]");
  m.FileIndex = v[0];
  m.StreamIndex = v[1];
  m.ChannelIndex = v[2];
  m.OutputFileIndex = n == 3 ? -1 : v[3];
  m.OutputStreamIndex = n == 3 ? -1 : v[4];

  if (m.FileIndex < 0 || m.FileIndex >= static_cast<int>(InputFiles.size()))
    AbortWithError("mapchan: invalid input file index: %d", m.FileIndex);
  const TInputFile& file = *InputFiles[static_cast<std::size_t>(m.FileIndex)];
  const std::size_t index = static_cast<std::size_t>(file.FirstStreamIndex) + static_cast<std::size_t>(m.StreamIndex);
  if (m.StreamIndex < 0 || m.StreamIndex >= file.StreamCount || index >= InputStreams.size())
    AbortWithError("mapchan: invalid input file stream index #%d.%d", m.FileIndex, m.StreamIndex);
  const TInputStream& stream = *InputStreams[index];
  if (stream.MediaType() != AVMEDIA_TYPE_AUDIO)
    AbortWithError("mapchan: stream #%d.%d is not an audio stream.", m.FileIndex, m.StreamIndex);
  if (m.ChannelIndex < 0 || m.ChannelIndex >= stream.Channels())
    AbortWithError("mapchan: invalid audio channel #%d.%d.%d", m.FileIndex, m.StreamIndex, m.ChannelIndex);
  o->AudioChannelMaps.push_back(m);
  return 0;
}

int TCustomFFmpegOpt::OptStreamId(TFileOptions* o, const std::string& opt, const std::string& arg) {
  if (!o) return AVERROR(EINVAL);
  std::string valueText = arg;
  const std::string indexText = SplitFirst(valueText, ":", true);
  int index = 0;
  int value = 0;
  std::string message;
  if (!TextToInt(indexText, index) || !TextToInt(valueText, value))
    message = StrFormat("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"", arg.c_str(),
                        opt.c_str());
  else if (index < 0 || index > 1023)
    message = StrFormat("The value for \"%s\" was \"%s\" which is not within %d - %d", "streamid", indexText.c_str(), 0,
                        1023);
  else if (value < 0)
    message = StrFormat("The value for \"%s\" was \"%s\" which is not within %d - %d", "streamid", valueText.c_str(), 0,
                        2147483647);
  if (!message.empty()) {
    SetOptionErrorText(message);
    Log(this, llError, message);
    return AVERROR(EINVAL);
  }
  GrowArray(o->StreamIdMap, static_cast<int64_t>(index) + 1);
  o->StreamIdMap[static_cast<std::size_t>(index)] = value;
  return 0;
}

int TCustomFFmpegOpt::OptAttach(TFileOptions* o, const std::string&, const std::string& arg) {
  if (!o) return AVERROR(EINVAL);
  o->Attachments.push_back(arg);
  return 0;
}

int TCustomFFmpegOpt::OptFilterComplex(TFileOptions*, const std::string&, const std::string& arg) {
  try {
    auto graph = std::make_unique<TFilterGraph>();
    graph->Index = static_cast<int>(FilterGraphs.size());
    graph->GraphDescription = arg;
    FilterGraphs.push_back(std::move(graph));
  } catch (const std::bad_alloc&) {
    return AVERROR(ENOMEM);
  }
  return 0;
}

}  // namespace vexa
