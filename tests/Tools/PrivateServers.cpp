#include "Tools/PrivateServers.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace vexa::test {

namespace {

bool PathExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Waits up to `ms` for `ready`, giving up early when `child` has ended.
template <class TReady>
bool WaitReady(TChildProcess& child, TReady ready, int ms = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    if (!child.Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool SocketAccepts(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                             const std::string& out, const std::string& err, int64_t fileSizeLimit) {
  std::vector<std::string> args = argv, vars = env;
  std::vector<char*> rawArgs, rawEnv;
  for (std::string& a : args) rawArgs.push_back(a.data());
  rawArgs.push_back(nullptr);
  for (std::string& v : vars) rawEnv.push_back(v.data());
  rawEnv.push_back(nullptr);
  // Under a file-size limit the child writes into pipes (no files of its
  // own to limit); threads of this process copy them to the files.
  int pipes[2][2] = {{-1, -1}, {-1, -1}};
  if (fileSizeLimit >= 0 && (pipe(pipes[0]) != 0 || pipe(pipes[1]) != 0)) return;
  Pid_ = fork();
  if (Pid_ == 0) {
    int o = pipes[0][1], e = pipes[1][1];
    if (fileSizeLimit < 0) {
      o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (o >= 0) dup2(o, 1);
    if (e >= 0) dup2(e, 2);
    if (fileSizeLimit >= 0) {
      rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execve(rawArgs[0], rawArgs.data(), rawEnv.data());
    _exit(127);
  }
  if (fileSizeLimit < 0) return;
  const std::string files[2] = {out, err};
  for (int i = 0; i < 2; ++i) {
    close(pipes[i][1]);
    Copiers_.emplace_back([fd = pipes[i][0], path = files[i]] {
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      char buffer[4096];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0) file.write(buffer, n).flush();
      close(fd);
    });
  }
}

TChildProcess::~TChildProcess() {
  if (Pid_ > 0 && !Waited_) {
    kill(Pid_, SIGKILL);
    Wait();
  }
  JoinCopiers();
}

void TChildProcess::JoinCopiers() {
  for (std::thread& t : Copiers_) t.join();
  Copiers_.clear();
}

void TChildProcess::Signal(int sig) const {
  if (Pid_ > 0 && !Waited_) kill(Pid_, sig);
}

bool TChildProcess::Running() {
  if (Pid_ <= 0 || Waited_) return false;
  int status = 0;
  if (waitpid(Pid_, &status, WNOHANG) == Pid_) {
    Waited_ = true;
    Status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  return true;
}

int TChildProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(Pid_, SIGKILL);
      int status = 0;
      waitpid(Pid_, &status, 0);
      Waited_ = true;
      Status_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  JoinCopiers();  // the child's output is complete
  return Status_;
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& settings) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& s : settings)
      if (entry.compare(0, s.find('=') + 1, s, 0, s.find('=') + 1) == 0) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), settings.begin(), settings.end());
  return env;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TPrivateServers::TPrivateServers(const std::string& screen) {
  Ok_ = StartDisplay(screen) && StartSound();
}

TPrivateServers::~TPrivateServers() {
  for (TChildProcess* child : {Pulse_.get(), Xvfb_.get()}) {
    if (!child) continue;
    child->Signal(SIGTERM);
    child->Wait(5000);
  }
  RemoveDisplayFiles();
}

void TPrivateServers::RemoveDisplayFiles() {
  // A killed Xvfb leaves its socket and lock file behind.
  if (DisplayName_.empty()) return;
  const std::string n = DisplayName_.substr(1);
  unlink(("/tmp/.X11-unix/X" + n).c_str());
  unlink(("/tmp/.X" + n + "-lock").c_str());
}

bool TPrivateServers::StartDisplay(const std::string& screen) {
  for (int n = 150; n < 250 && DisplayName_.empty(); ++n) {
    if (PathExists("/tmp/.X11-unix/X" + std::to_string(n)) || PathExists("/tmp/.X" + std::to_string(n) + "-lock"))
      continue;
    DisplayName_ = ":" + std::to_string(n);
  }
  if (DisplayName_.empty()) {
    Error_ = "no free display number";
    return false;
  }
  Xvfb_ = std::make_unique<TChildProcess>(
      std::vector<std::string>{"/usr/bin/Xvfb", DisplayName_, "-screen", "0", screen, "-nolisten", "tcp", "-ac",
                               "-noreset"},
      EnvironmentWith({}), Dir_.Path("xvfb.out"), Dir_.Path("xvfb.err"));
  const std::string name = DisplayName_;
  const bool ready = WaitReady(*Xvfb_, [&name] {
    Display* d = XOpenDisplay(name.c_str());
    if (!d) return false;
    XCloseDisplay(d);
    return true;
  });
  if (!ready) Error_ = "Xvfb did not start: " + ReadTextFile(Dir_.Path("xvfb.err"));
  return ready;
}

bool TPrivateServers::StartSound() {
  const std::string runtime = Dir_.Path("runtime"), home = Dir_.Path("home");
  mkdir(runtime.c_str(), 0700);
  mkdir(home.c_str(), 0700);
  PulseSocket_ = Dir_.Path("pulse.sock");
  std::ofstream(Dir_.Path("client.conf")) << "autospawn = no\n";
  std::ofstream(Dir_.Path("default.pa"))
      << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << PulseSocket_ << "\n"
      << "load-module module-null-sink sink_name=vexa_private rate=44100 channels=2\n"
      << "set-default-sink vexa_private\n"
      << "set-default-source vexa_private.monitor\n";
  Pulse_ = std::make_unique<TChildProcess>(
      std::vector<std::string>{"/usr/bin/pulseaudio", "-n", "-F", Dir_.Path("default.pa"), "--daemonize=no",
                               "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes",
                               "--log-target=file:" + Dir_.Path("pulse.log")},
      EnvironmentWith({"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime, "PULSE_RUNTIME_PATH=" + runtime,
                       "PULSE_CLIENTCONFIG=" + Dir_.Path("client.conf")}),
      Dir_.Path("pulse.out"), Dir_.Path("pulse.err"));
  const std::string socketPath = PulseSocket_;
  const bool ready = WaitReady(*Pulse_, [&socketPath] { return SocketAccepts(socketPath); });
  if (!ready) Error_ = "PulseAudio did not start: " + ReadTextFile(Dir_.Path("pulse.log"));
  return ready;
}

std::vector<std::string> TPrivateServers::ClientEnvironment() const {
  return EnvironmentWith({"DISPLAY=" + DisplayName_, "PULSE_SERVER=unix:" + PulseSocket_,
                          "PULSE_CLIENTCONFIG=" + Dir_.Path("client.conf")});
}

void TPrivateServers::KillDisplay() {
  if (Xvfb_) {
    Xvfb_->Signal(SIGKILL);
    Xvfb_->Wait();
    RemoveDisplayFiles();
  }
}

void TPrivateServers::KillSound() {
  if (Pulse_) {
    Pulse_->Signal(SIGKILL);
    Pulse_->Wait();
  }
}

}  // namespace vexa::test
