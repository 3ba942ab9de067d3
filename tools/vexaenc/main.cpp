// vexaenc: the transcoding engine on the command line. One input (a name and
// its option line) and one output (a file and its option line) run as one
// task of the encoder component, with progress lines and the log on the
// terminal. SIGINT / SIGTERM stop the task cleanly: the output is finished
// (trailer written) before the program exits.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"
#include "GDICapture/CaptureFormat.h"

namespace {

volatile std::sig_atomic_t StopSignal = 0;

extern "C" void OnStopSignal(int) { StopSignal = 1; }

const char* const Usage =
    "usage: vexaenc [engine options] INPUT-NAME \"INPUT LINE\" OUTPUT-FILE \"OUTPUT LINE\"\n"
    "\n"
    "Runs one transcoding task: INPUT-NAME (a file, a device such as\n"
    "\"video=0:audio=-1\" with -f gdicapture, or a lavfi graph with -f lavfi) read\n"
    "with the options of INPUT LINE, written to OUTPUT-FILE with the options of\n"
    "OUTPUT LINE. Both lines use the syntax of the FFmpeg command line without\n"
    "file names; pass \"\" for an empty line.\n"
    "\n"
    "Engine options:\n"
    "  --loglevel LEVEL         quiet, panic, fatal, error, warning, info (default),\n"
    "                           verbose or debug\n"
    "  --log-file FILE          also append the log to FILE\n"
    "  --progress-interval MS   minimum time between two progress lines (default 500)\n"
    "  --read-timeout MS        interrupt a read without progress after MS (default\n"
    "                           30000; 0 never)\n"
    "  --write-timeout MS       the same for writes\n"
    "  --no-strict              log option errors instead of failing on them\n"
    "  --quiet-progress         no progress lines\n"
    "  -h, --help               this text\n"
    "\n"
    "Progress lines go to standard output, the log to standard error. SIGINT or\n"
    "SIGTERM stops the task; the output file is finished before vexaenc exits.\n"
    "Exit status: 0 when the task ran to its end or was stopped by a signal,\n"
    "1 when adding the input or output or the run failed, 2 for a usage error.\n"
    "A run that a fault ended early (a lost display, a disk running full) has\n"
    "finished its file as far as it could and exits with 1 and the reason.\n";

struct TArguments {
  vexa::TLogLevel LogLevel = vexa::llInfo;
  std::string LogFile;
  int ProgressInterval = 500;
  int ReadTimeout = vexa::TFFBaseComponent::DefaultIOTimeout;
  int WriteTimeout = vexa::TFFBaseComponent::DefaultIOTimeout;
  bool Strict = true;
  bool Progress = true;
  std::vector<std::string> Positional;
};

bool ParseLevel(const std::string& text, vexa::TLogLevel& level) {
  for (int i = vexa::llQuiet; i <= vexa::llDebug; ++i) {
    if (strcasecmp(text.c_str(), vexa::LogLevelName(static_cast<vexa::TLogLevel>(i))) == 0) {
      level = static_cast<vexa::TLogLevel>(i);
      return true;
    }
  }
  return false;
}

bool ParseInt(const std::string& text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || v < -1000000000L || v > 1000000000L) return false;
  value = static_cast<int>(v);
  return true;
}

// Returns 0 to go on, else the exit status.
int ParseArguments(int argc, char** argv, TArguments& args) {
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsDone && (arg == "-h" || arg == "--help")) {
      std::fputs(Usage, stdout);
      return -1;
    }
    if (!optionsDone && arg == "--") {
      optionsDone = true;
      continue;
    }
    if (!optionsDone && arg.rfind("--", 0) == 0 && args.Positional.empty()) {
      auto value = [&](std::string& out) {
        if (i + 1 >= argc) {
          std::fprintf(stderr, "vexaenc: %s needs a value\n", arg.c_str());
          return false;
        }
        out = argv[++i];
        return true;
      };
      std::string v;
      if (arg == "--loglevel") {
        if (!value(v)) return 2;
        if (!ParseLevel(v, args.LogLevel)) {
          std::fprintf(stderr, "vexaenc: unknown log level \"%s\"\n", v.c_str());
          return 2;
        }
      } else if (arg == "--log-file") {
        if (!value(args.LogFile)) return 2;
      } else if (arg == "--progress-interval" || arg == "--read-timeout" || arg == "--write-timeout") {
        if (!value(v)) return 2;
        int n = 0;
        if (!ParseInt(v, n)) {
          std::fprintf(stderr, "vexaenc: %s needs a number of milliseconds, not \"%s\"\n", arg.c_str(), v.c_str());
          return 2;
        }
        (arg == "--progress-interval" ? args.ProgressInterval
                                      : arg == "--read-timeout" ? args.ReadTimeout : args.WriteTimeout) = n;
      } else if (arg == "--no-strict") {
        args.Strict = false;
      } else if (arg == "--quiet-progress") {
        args.Progress = false;
      } else {
        std::fprintf(stderr, "vexaenc: unknown option %s (see --help)\n", arg.c_str());
        return 2;
      }
      continue;
    }
    args.Positional.push_back(arg);
  }
  if (args.Positional.size() != 4) {
    std::fputs(Usage, stderr);
    return 2;
  }
  return 0;
}

std::mutex OutputLock;

void PrintProgress(const vexa::TProgressInfo& p) {
  const int64_t t = p.CurrentDuration < 0 ? 0 : p.CurrentDuration;
  const long long ms = static_cast<long long>(t / 1000);
  std::lock_guard<std::mutex> guard(OutputLock);
  std::printf("progress: frame=%d fps=%d q=%.1f size=%lldkB time=%02lld:%02lld:%02lld.%03lld bitrate=", p.FrameNumber,
              p.FPS, static_cast<double>(p.Quality), static_cast<long long>(p.CurrentSize / 1024), ms / 3600000,
              ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  if (p.BitRate < 0)
    std::printf("N/A");
  else
    std::printf("%.1fkbits/s", static_cast<double>(p.BitRate));
  if (p.TotalDuration > 0)
    std::printf(" (%.0f%%)", 100.0 * static_cast<double>(t) / static_cast<double>(p.TotalDuration));
  std::printf("%s\n", p.FileIndex == -1 ? " [final]" : "");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write fails (and the run reports it) instead of
  // the signal ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  TArguments args;
  if (const int status = ParseArguments(argc, argv, args)) return status < 0 ? 0 : status;

  vexa::TFFLogger logger;
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(args.LogLevel);
  logger.SetOnLog([](const void*, uint32_t, vexa::TLogLevel level, const std::string& msg) {
    std::string line = msg;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::lock_guard<std::mutex> guard(OutputLock);
    std::fprintf(stderr, "[%s] %s\n", vexa::LogLevelName(level), line.c_str());
  });
  if (!args.LogFile.empty()) {
    logger.SetLogFile(args.LogFile);
    logger.SetLogToFile(true);
  }

  vexa::TFFEncoder encoder;
  if (!encoder.LoadLibraries("")) {
    std::fprintf(stderr, "vexaenc: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }
  vexa::RegisterCaptureInput();
  encoder.SetStrictOptions(args.Strict);
  encoder.SetProgressInterval(args.ProgressInterval);
  encoder.SetReadTimeout(args.ReadTimeout);
  encoder.SetWriteTimeout(args.WriteTimeout);

  bool done = false;
  vexa::TTerminateInfo result;
  encoder.SetOnTerminate([&](void*, const vexa::TTerminateInfo& info) {
    if (info.TaskIndex == -1)
      done = true;
    else
      result = info;
  });
  if (args.Progress) encoder.SetOnProgress([](void*, vexa::PProgressInfo info) { PrintProgress(*info); });

  vexa::TInputOptions input;
  vexa::InitInputOptions(&input);
  input.FileOptions = args.Positional[1];
  const int task = encoder.AddTask(args.Positional[0], &input);
  if (task < 0) {
    std::fprintf(stderr, "vexaenc: cannot open input \"%s\": %s\n", args.Positional[0].c_str(),
                 encoder.LastErrMsg().c_str());
    return 1;
  }
  vexa::TOutputOptions output;
  vexa::InitOutputOptions(&output);
  output.FileOptions = args.Positional[3];
  if (encoder.SetOutput(task, args.Positional[2], &output) < 0) {
    std::fprintf(stderr, "vexaenc: cannot set output \"%s\": %s\n", args.Positional[2].c_str(),
                 encoder.LastErrMsg().c_str());
    encoder.RemoveTask(task);
    return 1;
  }

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  encoder.StartTask(1);
  bool stopped = false;
  while (!done) {
    vexa::CheckSynchronize(50);
    if (StopSignal && !stopped) {
      stopped = true;
      {
        std::lock_guard<std::mutex> guard(OutputLock);
        std::fprintf(stderr, "vexaenc: stopping\n");
      }
      encoder.Stop(true);
    }
  }

  if (result.Exception) {
    std::fprintf(stderr, "vexaenc: %s\n", result.ExceptionMsg.c_str());
    return 1;
  }
  if (!result.Finished && !stopped) {
    std::fprintf(stderr, "vexaenc: the task ended early\n");
    return 1;
  }
  return 0;
}
