#include "FFLog/LogFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vexa {

std::string FormatLogFileLine(const timespec& when, uint32_t threadId, const char* levelName,
                              const std::string& msg) {
  tm local{};
  time_t seconds = when.tv_sec;
  localtime_r(&seconds, &local);
  char head[64];
  std::snprintf(head, sizeof head, "%02d:%02d:%02d %03d [%.8X] ", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(when.tv_nsec / 1000000), threadId);
  std::string line = head;
  line += levelName;
  line += ": ";
  line += msg;
  line += "\r\n";
  return line;
}

TLogFileWriter::~TLogFileWriter() { Close(); }

void TLogFileWriter::Close() {
  if (Fd_ >= 0) ::close(Fd_);
  Fd_ = -1;
  Failed_ = false;
}

std::string TLogFileWriter::Write(const std::string& path, const std::string& line) {
  if (Failed_) return {};
  if (Fd_ < 0) {
    Fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (Fd_ < 0) {
      const int err = errno;
      Failed_ = true;
      return "Cannot open log file \"" + path + "\": " + std::strerror(err);
    }
  }
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(Fd_, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(Fd_);
      Fd_ = -1;
      Failed_ = true;
      return "Cannot write log file \"" + path + "\": " + std::strerror(err);
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  return {};
}

}  // namespace vexa
