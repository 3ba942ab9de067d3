#include "FFLoad/UnicodeProtocol.h"

#include <atomic>

namespace vexa {
namespace {

std::atomic<bool> ProtocolAvailable{false};

const char* const ImageExtensions[] = {
    "jpeg",     "jpg",      "jps",  "ljpg", "jls",  "png",    "pns",      "mng",
    "ppm",      "pnm",      "pgm",  "pgmyuv", "pbm", "pam",   "mpg1-img", "mpg2-img",
    "mpg4-img", "ffv1-img", "y",    "raw",  "bmp",  "gif",    "tga",      "tiff",
    "tif",      "sgi",      "ptx",  "pcx",  "pix",  "sun",    "ras",      "rs",
    "im1",      "im8",      "im24", "im32", "sunras", "j2c",  "j2k",      "jp2",
    "jpc",      "dpx",      "exr",  "pic",  "yuv10", "xbm",   "xface",    "xwd",
};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void RegisterUnicodeProtocol() { ProtocolAvailable.store(false); }

bool UnicodeProtocolAvailable() { return ProtocolAvailable.load(); }

bool IsImageName(const std::string& FileName) {
  const std::size_t dot = FileName.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = FileName.substr(dot + 1);
  for (char& c : extension) c = AsciiLower(c);
  for (const char* known : ImageExtensions) {
    if (extension == known) return true;
  }
  return false;
}

std::string ToMediaFileName(const std::string& FileName) { return FileName; }

std::string FromMediaFileName(const std::string& MediaName) { return MediaName; }

}  // namespace vexa
