// Child processes of the front-end tests, and a private X display and sound
// server that a test starts for itself so that it may kill them mid-run
// (never the shared ones of scripts/test-env.sh).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Support/MediaFixtures.h"

namespace vexa::test {

// One child process: argv[0] is the program's path, `env` its whole
// environment, standard output and error go to files. A file-size limit
// (bytes, < 0 none) is set in the child before it starts.
class TChildProcess {
 public:
  TChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& out,
                const std::string& err, int64_t fileSizeLimit = -1);
  ~TChildProcess();  // kills a child still running
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return Pid_ > 0; }
  pid_t Pid() const { return Pid_; }
  void Signal(int sig) const;
  // The exit status; -1 when it did not exit normally or not within
  // `timeoutMs` (then it is killed).
  int Wait(int timeoutMs = 60000);
  bool Running();

 private:
  void JoinCopiers();

  pid_t Pid_ = -1;
  bool Waited_ = false;
  std::vector<std::thread> Copiers_;
  int Status_ = -1;
};

// This process's environment with the given variables set ("NAME=value").
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& settings);

// The whole content of a text file ("" when missing).
std::string ReadTextFile(const std::string& path);

// An Xvfb display of `screen` (e.g. "1280x720x24") and a PulseAudio server
// with one null sink (its monitor the default source), both private.
class TPrivateServers {
 public:
  explicit TPrivateServers(const std::string& screen = "1280x720x24");
  ~TPrivateServers();
  TPrivateServers(const TPrivateServers&) = delete;
  TPrivateServers& operator=(const TPrivateServers&) = delete;

  bool Ok() const { return Ok_; }
  const std::string& Error() const { return Error_; }
  const std::string& DisplayName() const { return DisplayName_; }
  // The environment for a client of both servers.
  std::vector<std::string> ClientEnvironment() const;
  void KillDisplay();
  void KillSound();

 private:
  bool StartDisplay(const std::string& screen);
  bool StartSound();
  void RemoveDisplayFiles();

  TTempDir Dir_;
  std::unique_ptr<TChildProcess> Xvfb_;
  std::unique_ptr<TChildProcess> Pulse_;
  std::string DisplayName_;
  std::string PulseSocket_;
  bool Ok_ = false;
  std::string Error_;
};

}  // namespace vexa::test
