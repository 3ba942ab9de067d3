// Base of the library's components (the logger, the encoder component).
#pragma once

#include <string>

namespace vexa {

class TFFBaseComponent {
 public:
  static constexpr int DefaultIOTimeout = 30000;  // milliseconds

  TFFBaseComponent() = default;
  virtual ~TFFBaseComponent() = default;
  TFFBaseComponent(const TFFBaseComponent&) = delete;
  TFFBaseComponent& operator=(const TFFBaseComponent&) = delete;

  const std::string& About() const { return About_; }
  const std::string& Version() const { return Version_; }
  int ReadTimeout() const { return ReadTimeout_; }
  int WriteTimeout() const { return WriteTimeout_; }
  void SetReadTimeout(int ms) { ReadTimeout_ = ms; }
  void SetWriteTimeout(int ms) { WriteTimeout_ = ms; }
  void SetAbout(const std::string& value) { About_ = value; }
  // Reason of the last failed call.
  const std::string& LastErrMsg() const { return LastErrMsg_; }

 protected:
  std::string LastErrMsg_;

 private:
  std::string About_;  // free text, empty by default
  std::string Version_ = "5.2";
  int ReadTimeout_ = DefaultIOTimeout;
  int WriteTimeout_ = DefaultIOTimeout;
};

}  // namespace vexa
