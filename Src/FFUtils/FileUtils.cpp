#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <cstdio>
#include <memory>
#include <new>

#include "FFLoad/UnicodeProtocol.h"
#include "FFLog/FFLog.h"
#include "FFUtils/FFUtils.h"
#include "FFUtils/UtilLog.h"

namespace vexa {

using utils_detail::LogLine;
using utils_detail::LogLineFmt;

namespace {

struct TFileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

int ReadFileToBuffer(const std::string& fileName, std::vector<uint8_t>& buffer) {
  buffer.clear();
  const std::string name = ToMediaFileName(fileName);
  std::unique_ptr<std::FILE, TFileClose> file(std::fopen(name.c_str(), "rb"));
  // Only regular files: a directory or a device would give no usable size.
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    LogLineFmt(llError, "Cannot read file \"%s\"\n", fileName.c_str());
    return -1;
  }

  off_t size = -1;
  if (fseeko(file.get(), 0, SEEK_END) == 0) size = ftello(file.get());
  if (size < 0 || fseeko(file.get(), 0, SEEK_SET) != 0) {
    LogLine(llError, "IO error\n");
    return AVERROR(EIO);
  }

  // The size with its terminating zero must stay a positive int.
  if (size >= INT_MAX) {
    LogLine(llError, "Could not allocate file buffer\n");
    return AVERROR(ENOMEM);
  }
  try {
    buffer.resize(static_cast<size_t>(size) + 1);
  } catch (const std::bad_alloc&) {
    LogLine(llError, "Could not allocate file buffer\n");
    return AVERROR(ENOMEM);
  }

  const size_t wanted = static_cast<size_t>(size);
  const size_t got = wanted ? std::fread(buffer.data(), 1, wanted, file.get()) : 0;
  if (got < wanted) {
    const bool failed = std::ferror(file.get()) != 0;
    buffer.clear();
    buffer.shrink_to_fit();
    if (failed) {
      LogLineFmt(llError, "Error while reading file \"%s\"\n", fileName.c_str());
      return AVERROR(EIO);
    }
    return AVERROR_EOF;
  }
  buffer[wanted] = 0;
  return 0;
}

int64_t FileSize(const std::string& fileName) {
  struct stat info {};
  if (stat(ToMediaFileName(fileName).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

std::string LocalFilePath(const char* url) {
  if (!url || !*url) return "";
  if (std::strncmp(url, "file:", 5) == 0) return url + 5;
  // Any other "proto:" before the first slash is not a local file.
  const char* colon = std::strchr(url, ':');
  const char* slash = std::strchr(url, '/');
  if (colon && (!slash || colon < slash)) return "";
  return url;
}

void DeleteEmptyOutputFile(const char* url) {
  const std::string path = LocalFilePath(url);
  if (!path.empty() && FileSize(path) == 0) unlink(ToMediaFileName(path).c_str());
}

}  // namespace vexa
