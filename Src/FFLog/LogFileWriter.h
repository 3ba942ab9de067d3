// Appends the logger's lines to one text file, kept open between lines.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vexa {

// One log file line: "hh:nn:ss zzz [TTTTTTTT] Level: message\r\n" with the
// local time of `when`, the thread id in eight upper-case hex digits.
std::string FormatLogFileLine(const timespec& when, uint32_t threadId, const char* levelName,
                              const std::string& msg);

class TLogFileWriter {
 public:
  TLogFileWriter() = default;
  ~TLogFileWriter();
  TLogFileWriter(const TLogFileWriter&) = delete;
  TLogFileWriter& operator=(const TLogFileWriter&) = delete;

  // Appends `line` to `path`, opening (or creating) the file on first use.
  // Returns an empty text on success. The first failure closes the file and
  // returns its description; after that, writes are skipped silently (empty
  // result) until Close.
  std::string Write(const std::string& path, const std::string& line);

  // Closes the file and clears the failed state.
  void Close();

 private:
  int Fd_ = -1;
  bool Failed_ = false;
};

}  // namespace vexa
