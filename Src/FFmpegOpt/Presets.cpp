// Preset texts and preset files: key=value lines applied to the file being parsed.
//
// Preset files (-apre, -vpre, -spre, -fpre) name a file. An argument that
// names an existing file is used as it is; a bare file name (no "/") that
// does not exist is searched, in this order, in the program's folder, in
// $HOME/.vexa-screen-recorder/presets and in the installed data folder
// <prefix>/share/vexa-screen-recorder/presets beside the program's bin folder.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>
#include <sys/stat.h>

#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

namespace vexa {

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return std::string();
  std::string path(buffer, static_cast<std::size_t>(n));
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string WithLineBreaks(const std::string& text, const char* lineBreak) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      result += lineBreak;
    } else if (text[i] == '\n') {
      result += lineBreak;
    } else {
      result.push_back(text[i]);
    }
  }
  return result;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  std::string::size_type p = 0;
  while ((p = text.find(from, p)) != std::string::npos) {
    text.replace(p, from.size(), to);
    p += to.size();
  }
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16 text (without its byte-order mark) to UTF-8; unpaired surrogates
// become U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
  std::string out;
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> uint32_t {
    const auto b0 = static_cast<unsigned char>(bytes[2 * i]);
    const auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
  };
  for (std::size_t i = 0; i < units; ++i) {
    uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
      const uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// The file's text in UTF-8: a byte-order mark selects UTF-8 or UTF-16,
// otherwise the bytes are taken as they are (the system code page is UTF-8).
std::string ReadTextFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  if (!ok) return std::string();
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0) return Utf16ToUtf8(bytes.substr(2), true);
  return bytes;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start <= text.size()) {
    const std::string::size_type lf = text.find('\n', start);
    if (lf == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return lines;
}

}  // namespace

int TCustomFFmpegOpt::OfferFileOption(const std::string& name, const std::string& value) {
  // The option is routed straight into the file group's codec and format
  // dictionaries (flags options append to what the line set); what the
  // scaler and resampler layers take stays in the working set.
  struct TGroupSwap {
    TFFOptions& Working;
    TOptionGroupDicts& Group;
    void Swap() {
      std::swap(Working.CodecOptions, Group.CodecOptions);
      std::swap(Working.FormatOptions, Group.FormatOptions);
    }
    TGroupSwap(TFFOptions& working, TOptionGroupDicts& group) : Working(working), Group(group) { Swap(); }
    ~TGroupSwap() { Swap(); }
  } swap(FFOptions, FFOptions.FinishedGroup);
  return FFOptions.OptDefault(name, value);
}

int TCustomFFmpegOpt::ApplyPresetEntry(TFileOptions& o, const std::string& key, const std::string& value) {
  static const char* const codecKeys[][2] = {
      {"acodec", "codec:a"}, {"vcodec", "codec:v"}, {"scodec", "codec:s"}, {"dcodec", "codec:d"}};
  for (const auto& pair : codecKeys)
    if (SameText(key, pair[0])) return ParseOption(&o, pair[1], value);
  return OfferFileOption(key, value);
}

int TCustomFFmpegOpt::ApplyPresetLines(TFileOptions& o, const std::string& text, const std::string& syntaxPrefix,
                                       const std::string& optionPrefix) {
  for (const std::string& rawLine : SplitLines(text)) {
    const std::string line = TrimText(rawLine);
    if (line.empty() || line[0] == '#') continue;
    std::string value = line;
    const std::string key = SplitFirst(value, "=", true);
    if (line.find('=') == std::string::npos || key.empty() || value.empty()) {
      const std::string message = syntaxPrefix + StrFormat("Invalid syntax: \"%s\"", line.c_str());
      Log(this, llError, message);
      if (StrictOptions) {
        SetOptionErrorText(message);
        return AVERROR(EINVAL);
      }
    }
    LogFmt(this, llDebug, "Applying preset %s with argument %s.", key.c_str(), value.c_str());
    ClearOptionErrorText();
    const int ret = ApplyPresetEntry(o, key, value);
    if (ret < 0) {
      const std::string message =
          optionPrefix + StrFormat("Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"", line.c_str(),
                                   key.c_str(), value.c_str());
      Log(this, llError, message);
      if (StrictOptions) {
        const std::string previous = OptionErrorText();
        SetOptionErrorText(previous.empty() ? message : previous + "\r\n" + message);
        return ret;
      }
    }
  }
  return 0;
}

int TCustomFFmpegOpt::ParsePresets(TFileOptions& o, const std::string& presets, const std::string& label) {
  LogFmt(this, llInfo, "ParsePresets for %s:%s%s", label.c_str(), "\r\n", WithLineBreaks(presets, "\r\n").c_str());
  std::string text = WithLineBreaks(TrimText(presets), "\n");
  ReplaceAll(text, "<CRLF>", "\n");
  return ApplyPresetLines(o, text, std::string(), std::string());
}

std::string TCustomFFmpegOpt::FindPresetFile(const std::string& name) const {
  if (IsRegularFile(name) || name.find('/') != std::string::npos) return name;
  std::vector<std::string> folders;
  const std::string program = ProgramFolder();
  if (!program.empty()) folders.push_back(program);
  if (const char* home = std::getenv("HOME"); home && *home)
    folders.push_back(std::string(home) + "/.vexa-screen-recorder/presets");
  if (!program.empty()) {
    const std::string::size_type slash = program.rfind('/');
    const std::string prefix = slash == std::string::npos ? std::string() : program.substr(0, slash);
    folders.push_back(prefix + "/share/vexa-screen-recorder/presets");
  }
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + name;
    if (IsRegularFile(candidate)) return candidate;
  }
  return name;
}

int TCustomFFmpegOpt::OptPresetFile(TFileOptions* o, const std::string&, const std::string& arg) {
  if (!o) return AVERROR(EINVAL);
  const std::string path = FindPresetFile(arg);
  bool ok = IsRegularFile(path);
  std::string text;
  if (ok) text = ReadTextFile(path, ok);
  if (!ok) {
    const std::string message = StrFormat("Preset file \"%s\" not found", arg.c_str());
    SetOptionErrorText(message);
    Log(this, llError, message);
    return AVERROR(EINVAL);
  }
  LogFmt(this, llInfo, "Parse preset file: %s", path.c_str());
  const std::string::size_type slash = path.rfind('/');
  const std::string baseName = slash == std::string::npos ? path : path.substr(slash + 1);
  return ApplyPresetLines(*o, WithLineBreaks(text, "\n"), path + ": ", baseName + ": ");
}

}  // namespace vexa
