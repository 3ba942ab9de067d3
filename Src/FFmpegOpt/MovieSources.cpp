// Movie sources of filter descriptions whose file names look like image
// sequence patterns: the image reader takes "%d" in a name as a frame number,
// so a picture stored under such a path would not be found.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "FFmpegOpt/FilterGraphs.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/mem.h>
}

namespace vexa {

namespace {

constexpr const char* Blanks = " \n\t\r";
constexpr const char* LiteralOption = ":format_opts=pattern_type=none";

// av_get_token into a std::string; `p` moves to the terminator.
std::string Token(const char*& p, const char* terminators) {
  char* token = av_get_token(&p, terminators);
  std::string text = token ? token : "";
  av_free(token);
  return text;
}

bool IsKeyChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '/' || c == '.';
}

bool IsMovieSource(const std::string& name) {
  const std::string kind = name.substr(0, name.find('@'));
  return kind == "movie" || kind == "amovie";
}

// Whether the source's arguments (unescaped once, as the graph parser hands
// them to the filter) name an existing file that the image reader would take
// for a numbered sequence, with no demuxer options of their own.
bool NeedsLiteralName(const std::string& args) {
  static const char* const positional[] = {"filename", "format_name"};
  std::string fileName, formatName;
  const char* p = args.c_str();
  std::size_t unnamed = 0;
  bool named = false;
  while (*p) {
    const char* k = p;
    while (IsKeyChar(*k)) ++k;
    std::string key;
    if (k != p && *k == '=') {
      key.assign(p, k);
      p = k + 1;
      named = true;
    } else if (!named && unnamed < 2) {
      key = positional[unnamed++];
    }
    const std::string value = Token(p, ":");
    if (key == "filename") fileName = value;
    if (key == "format_name" || key == "f") formatName = value;
    if (key == "format_opts") return false;
    if (*p == ':') ++p;
  }
  if (!formatName.empty() && formatName != "image2") return false;
  if (fileName.empty() || !av_filename_number_test(fileName.c_str())) return false;
  const std::string path = fileName.compare(0, 5, "file:") == 0 ? fileName.substr(5) : fileName;
  return access(path.c_str(), F_OK) == 0;
}

// Skips blanks and pad labels ("[name]").
void SkipLabels(const char*& p) {
  p += std::strspn(p, Blanks);
  while (*p == '[') {
    ++p;
    Token(p, "]");
    if (*p == ']') ++p;
    p += std::strspn(p, Blanks);
  }
}

}  // namespace

std::string LiteralMovieSources(const std::string& description) {
  const char* const base = description.c_str();
  const char* p = base;
  p += std::strspn(p, Blanks);
  if (std::strncmp(p, "sws_flags=", 10) == 0) {
    p = std::strchr(p, ';');
    if (!p) return description;
    ++p;
  }

  std::vector<std::size_t> insertAt;
  while (*p) {
    SkipLabels(p);
    const std::string name = Token(p, "=,;[");
    if (*p == '=') {
      ++p;
      const char* start = p;
      const std::string args = Token(p, "[],;");
      // The token ends before the blanks that precede the terminator.
      const char* end = p;
      while (end > start && std::strchr(Blanks, end[-1]) && !(end - start >= 2 && end[-2] == '\\')) --end;
      if (IsMovieSource(name) && NeedsLiteralName(args)) insertAt.push_back(static_cast<std::size_t>(end - base));
    }
    SkipLabels(p);
    if (*p != ',' && *p != ';') break;  // the end, or text the library's parser will reject
    ++p;
  }

  std::string result = description;
  for (auto it = insertAt.rbegin(); it != insertAt.rend(); ++it) result.insert(*it, LiteralOption);
  return result;
}

}  // namespace vexa
