// vexarec: the screen recorder without a window. It records with the
// recorder's settings file and the same recording controller as the main
// window: the region, format, rates, sound, overlays, watermark, delay and
// length limit the settings hold, into the output folder, named as the
// window names its files. It runs until the length limit, SIGINT or SIGTERM
// and always finishes the file (trailer written) before it exits.
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"
#include "core/GlobalUnit.h"
#include "core/OutputFolder.h"
#include "core/RecordingController.h"
#include "core/Settings.h"

namespace {

volatile sig_atomic_t StopSignal = 0;

extern "C" void OnStopSignal(int) { StopSignal = 1; }

const char* const Usage =
    "usage: vexarec [options]\n"
    "\n"
    "Records the screen with the settings of Vexa Screen Recorder (the same\n"
    "settings file and recording controller as the window) until the length\n"
    "limit of the settings, Ctrl+C or SIGTERM, printing the status as it goes.\n"
    "The file goes to the output folder of the settings, named as the window\n"
    "names it (VexaScreenRecorder-W-H_(new).mp4, ..._(new_1).mp4, ...).\n"
    "\n"
    "Options (the overrides apply to this recording only, unless --save):\n"
    "  --settings FILE        the settings file to use (default: the recorder's,\n"
    "                         beside the program or in ~/.config/vexa-screen-recorder)\n"
    "  --region X,Y,WxH       the screen rectangle, e.g. 10,10,800x600\n"
    "  --format NAME          mp4, swf, flv, wmv, mkv, avi or webm\n"
    "  --fps RATE             8, 10, 12, 15, 16, 20, 23.97, 24, 25, 29.97, 30 or Auto\n"
    "  --length SECONDS       stop after SECONDS (0: no limit)\n"
    "  --sound, --no-sound    record with or without sound\n"
    "  --output-dir DIR       the output folder\n"
    "  --no-sound-answer A    the answer when there is no sound device: yes (record\n"
    "                         without sound), no (give up) or ask (default: ask on\n"
    "                         the terminal; without a terminal the answer is no)\n"
    "  --save                 store the overrides in the settings file\n"
    "  --loglevel LEVEL       engine log on standard error: quiet, panic, fatal,\n"
    "                         error, warning (default), info, verbose or debug\n"
    "  --quiet                no status lines\n"
    "  -h, --help             this text\n"
    "\n"
    "Exit status: 0 when the recording was finished, 1 when it could not start or\n"
    "failed, 2 for a usage error.\n";

std::mutex OutputLock;

void PrintError(const QString& AText) {
  std::lock_guard<std::mutex> guard(OutputLock);
  std::fprintf(stderr, "vexarec: %s\n", AText.toLocal8Bit().constData());
}

struct TArguments {
  QString SettingsFile;
  bool HaveRegion = false;
  QString Left, Top, Width, Height;
  int Format = -1;
  QString FrameRate;
  int Length = -1;
  int Sound = -1;  // -1: as the settings say
  QString OutputDir;
  QString NoSoundAnswer = QStringLiteral("ask");
  bool Save = false;
  vexa::TLogLevel LogLevel = vexa::llWarning;
  bool Quiet = false;
};

bool IsDecimal(const QString& AText) {
  if (AText.isEmpty() || AText.size() > 9) return false;
  for (const QChar c : AText)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  return true;
}

bool ParseRegionArgument(const QString& AText, TArguments& AArgs) {
  const QStringList parts = AText.split(QLatin1Char(','));
  if (parts.size() != 3) return false;
  const QStringList size = parts[2].split(QLatin1Char('x'));
  if (size.size() != 2) return false;
  auto number = [](QString t) {
    if (t.startsWith(QLatin1Char('-'))) t.remove(0, 1);
    return IsDecimal(t);
  };
  if (!number(parts[0]) || !number(parts[1]) || !IsDecimal(size[0]) || !IsDecimal(size[1])) return false;
  if (size[0].toInt() < 8 || size[1].toInt() < 8) return false;
  AArgs.Left = parts[0];
  AArgs.Top = parts[1];
  AArgs.Width = size[0];
  AArgs.Height = size[1];
  AArgs.HaveRegion = true;
  return true;
}

// 0 to go on, -1 after --help, else the exit status.
int ParseArguments(const QStringList& AArgs, TArguments& AOut) {
  for (int i = 1; i < AArgs.size(); ++i) {
    const QString arg = AArgs[i];
    auto usageError = [](const QString& AText) {
      PrintError(AText + QStringLiteral(" (see --help)"));
      return 2;
    };
    auto value = [&](QString& AValue) {
      if (i + 1 >= AArgs.size()) return false;
      AValue = AArgs[++i];
      return true;
    };
    QString v;
    if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
      std::fputs(Usage, stdout);
      return -1;
    } else if (arg == QLatin1String("--sound")) {
      AOut.Sound = 1;
    } else if (arg == QLatin1String("--no-sound")) {
      AOut.Sound = 0;
    } else if (arg == QLatin1String("--save")) {
      AOut.Save = true;
    } else if (arg == QLatin1String("--quiet")) {
      AOut.Quiet = true;
    } else if (arg == QLatin1String("--settings") || arg == QLatin1String("--region") ||
               arg == QLatin1String("--format") || arg == QLatin1String("--fps") ||
               arg == QLatin1String("--length") || arg == QLatin1String("--output-dir") ||
               arg == QLatin1String("--no-sound-answer") || arg == QLatin1String("--loglevel")) {
      if (!value(v)) return usageError(arg + QStringLiteral(" needs a value"));
      if (arg == QLatin1String("--settings")) {
        if (v.size() <= 3) return usageError(QStringLiteral("--settings needs a file name of more than 3 characters"));
        AOut.SettingsFile = QFileInfo(v).absoluteFilePath();
      } else if (arg == QLatin1String("--region")) {
        if (!ParseRegionArgument(v, AOut))
          return usageError(QStringLiteral("--region wants X,Y,WxH (W and H at least 8), not \"%1\"").arg(v));
      } else if (arg == QLatin1String("--format")) {
        AOut.Format = -1;
        for (int f = 0; f < static_cast<int>(vexa::OutputFormats().size()); ++f)
          if (v.compare(QLatin1String(vexa::OutputFormats()[static_cast<size_t>(f)].Name), Qt::CaseInsensitive) == 0)
            AOut.Format = f;
        if (AOut.Format < 0) return usageError(QStringLiteral("unknown format \"%1\"").arg(v));
      } else if (arg == QLatin1String("--fps")) {
        const int index = vexa::FrameRates().indexOf(v);
        if (index < 0) return usageError(QStringLiteral("--fps must be one of %1").arg(vexa::FrameRates().join(' ')));
        AOut.FrameRate = v;
      } else if (arg == QLatin1String("--length")) {
        if (!IsDecimal(v)) return usageError(QStringLiteral("--length needs whole seconds, not \"%1\"").arg(v));
        AOut.Length = v.toInt();
      } else if (arg == QLatin1String("--output-dir")) {
        if (v.isEmpty()) return usageError(QStringLiteral("--output-dir needs a folder"));
        AOut.OutputDir = QFileInfo(v).absoluteFilePath();
      } else if (arg == QLatin1String("--no-sound-answer")) {
        if (v != QLatin1String("yes") && v != QLatin1String("no") && v != QLatin1String("ask"))
          return usageError(QStringLiteral("--no-sound-answer is yes, no or ask"));
        AOut.NoSoundAnswer = v;
      } else {
        bool found = false;
        for (int l = vexa::llQuiet; l <= vexa::llDebug; ++l) {
          if (v.compare(QLatin1String(vexa::LogLevelName(static_cast<vexa::TLogLevel>(l))), Qt::CaseInsensitive) == 0) {
            AOut.LogLevel = static_cast<vexa::TLogLevel>(l);
            found = true;
          }
        }
        if (!found) return usageError(QStringLiteral("unknown log level \"%1\"").arg(v));
      }
    } else {
      return usageError(QStringLiteral("unknown argument \"%1\"").arg(arg));
    }
  }
  return 0;
}

// The recorder's front end on the terminal.
class TTerminalHost : public vexa::TRecorderHost {
 public:
  TTerminalHost(QString ANoSoundAnswer, bool AQuiet) : NoSoundAnswer_(std::move(ANoSoundAnswer)), Quiet_(AQuiet) {}

  bool Finished() const { return Finished_; }
  const QString& Folder() const { return Folder_; }
  bool Asked() const { return Asked_; }
  void EndStatusLine() {
    std::lock_guard<std::mutex> guard(OutputLock);
    if (StatusOpen_) std::fputc('\n', stdout);
    StatusOpen_ = false;
    std::fflush(stdout);
  }

  void ShowWarning(const QString& AText) override {
    EndStatusLine();
    PrintError(QStringLiteral("warning: ") + AText);
  }

  bool AskYesNo(const QString& AText) override {
    EndStatusLine();
    Asked_ = true;
    QString text = AText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (NoSoundAnswer_ != QLatin1String("ask")) {
      PrintError(text + QStringLiteral(" ") + NoSoundAnswer_);
      return NoSoundAnswer_ == QLatin1String("yes");
    }
    if (!isatty(STDIN_FILENO)) {
      PrintError(text + QStringLiteral(
                            "\nno terminal to answer on: no (pass --no-sound-answer yes to record without sound)"));
      return false;
    }
    {
      std::lock_guard<std::mutex> guard(OutputLock);
      std::fprintf(stderr, "vexarec: %s [y/N] ", text.toLocal8Bit().constData());
      std::fflush(stderr);
    }
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin)) return false;  // end of input or a signal
    return line[0] == 'y' || line[0] == 'Y';
  }

  void Beep() override {
    if (isatty(STDERR_FILENO)) std::fputc('\a', stderr);
  }
  void MinimizeApplication() override {}
  void OpenFolder(const QString& AFolder) override {
    Folder_ = AFolder;
    Finished_ = true;
  }
  void SetStatusText(const QString& AText) override {
    if (Quiet_) return;
    std::lock_guard<std::mutex> guard(OutputLock);
    if (isatty(STDOUT_FILENO)) {
      std::printf("\r%s\033[K", AText.toLocal8Bit().constData());
      StatusOpen_ = true;
    } else {
      std::printf("%s\n", AText.toLocal8Bit().constData());
    }
    std::fflush(stdout);
  }
  QString StartCaption() const override { return Caption_; }
  void SetStartCaption(const QString& ACaption) override { Caption_ = ACaption; }
  void SetStartEnabled(bool) override {}
  void ApplyControlState(vexa::TRecorderState) override {}
  void AudioUnticked() override {}
  void ProcessEvents() override {}

 private:
  QString NoSoundAnswer_;
  bool Quiet_;
  bool Finished_ = false;
  bool Asked_ = false;
  bool StatusOpen_ = false;
  QString Folder_;
  QString Caption_ = QStringLiteral("&Start");
};

// Applies the overrides to the settings file AIni, as the window's controls
// would store them.
bool ApplyOverrides(vexa::TIniFile& AIni, const TArguments& AArgs) {
  using namespace vexa;
  bool ok = true;
  if (AArgs.HaveRegion) {
    ok = ok && WriteSetting(AIni, keys::Left, AArgs.Left) && WriteSetting(AIni, keys::Top, AArgs.Top) &&
         WriteSetting(AIni, keys::Width, AArgs.Width) && WriteSetting(AIni, keys::Height, AArgs.Height);
  }
  if (AArgs.Format >= 0) ok = ok && WriteIntSetting(AIni, keys::Format, AArgs.Format);
  if (!AArgs.FrameRate.isEmpty()) {
    ok = ok && WriteSetting(AIni, keys::FrameRate, AArgs.FrameRate) &&
         WriteIntSetting(AIni, keys::FrameRateIndex, static_cast<int>(FrameRates().indexOf(AArgs.FrameRate)));
  }
  if (AArgs.Length >= 0) {
    ok = ok && WriteBoolSetting(AIni, keys::LengthOn, AArgs.Length > 0);
    if (AArgs.Length > 0) ok = ok && WriteIntSetting(AIni, keys::RecLength, AArgs.Length);
  }
  if (AArgs.Sound >= 0) ok = ok && WriteBoolSetting(AIni, keys::RecordWithAudio, AArgs.Sound == 1);
  if (!AArgs.OutputDir.isEmpty()) ok = ok && WriteSetting(AIni, keys::OutPutDir, AArgs.OutputDir);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  TArguments args;
  if (const int status = ParseArguments(arguments, args)) return status < 0 ? 0 : status;

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);  // fonts for the overlays; no window is shown
  vexa::SetMainThread();

  vexa::TGlobalObject global;
  if (!args.SettingsFile.isEmpty()) global.SetIniFileName(args.SettingsFile);
  vexa::TIniFile settings(global.IniFileName());
  TTerminalHost host(args.NoSoundAnswer, args.Quiet);

  // The window's start-up: the output folder (first run, or a stored folder
  // that has gone).
  if (args.OutputDir.isEmpty()) vexa::ResolveOutputFolderAtStartup(settings, host);

  // One-off overrides go into a private copy of the settings file.
  QTemporaryDir scratch;
  QString iniFileName = global.IniFileName();
  if (!args.Save) {
    if (!scratch.isValid()) {
      PrintError(QStringLiteral("cannot create a temporary folder: ") + scratch.errorString());
      return 1;
    }
    iniFileName = scratch.filePath(QStringLiteral("vexascreenrecorder.ini"));
    if (QFile::exists(global.IniFileName()) && !QFile::copy(global.IniFileName(), iniFileName)) {
      PrintError(QStringLiteral("cannot read the settings file ") + global.IniFileName());
      return 1;
    }
  }
  vexa::TIniFile recording(iniFileName);
  // The window's start-up shows the region fields and stores what they show,
  // so the output size follows the region on a fresh settings file too.
  for (const vexa::TSettingKey* key : {&vexa::keys::Left, &vexa::keys::Top, &vexa::keys::Width, &vexa::keys::Height}) {
    if (!recording.ValueExists(QLatin1String(key->Section), QLatin1String(key->Name)))
      vexa::WriteSetting(recording, *key, vexa::ReadSetting(recording, *key));
  }
  if (!ApplyOverrides(recording, args)) {
    PrintError(QStringLiteral("cannot write the settings file: ") + recording.LastError());
    return 1;
  }

  vexa::TFFLogger logger;
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(args.LogLevel);
  logger.SetOnLog([&host](const void*, uint32_t, vexa::TLogLevel level, const std::string& msg) {
    std::string line = msg;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    host.EndStatusLine();
    std::lock_guard<std::mutex> guard(OutputLock);
    std::fprintf(stderr, "[%s] %s\n", vexa::LogLevelName(level), line.c_str());
  });

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // Past a file-size limit a write fails (and the run reports it) instead of
  // the signal ending the process with the file unfinished.
  signal(SIGXFSZ, SIG_IGN);

  vexa::TFFEncoder encoder;
  vexa::TRecordingController controller(encoder, host, iniFileName);
  controller.SetInsetFlag(vexa::ReadBoolSetting(recording, vexa::keys::FullScreen));
  const vexa::TRecordControls controls = vexa::ControlsFromSettings(recording);

  if (!controller.Start(controls)) {
    host.EndStatusLine();
    const std::string reason = encoder.LastErrMsg();
    if (host.Asked())
      PrintError(QStringLiteral("not recording: there is no sound device"));
    else
      PrintError(QStringLiteral("cannot start the recording") +
                 (reason.empty() ? QString() : QStringLiteral(": ") + QString::fromStdString(reason)));
    return 1;
  }
  {
    std::lock_guard<std::mutex> guard(OutputLock);
    std::fprintf(stderr, "vexarec: recording %s into %s (Ctrl+C stops)\n",
                 controller.Lines().DeviceName == QLatin1String("video=0") ? "without sound" : "with sound",
                 controller.OutputFileName().toLocal8Bit().constData());
  }

  bool stopped = false;
  while (!host.Finished()) {
    vexa::CheckSynchronize(5);
    controller.StopTimerTick();
    if (StopSignal && !stopped && encoder.Working()) {
      stopped = true;
      controller.Stop();
    }
  }
  host.EndStatusLine();

  const vexa::TTerminateInfo& result = controller.LastTaskResult();
  const QFileInfo file(controller.OutputFileName());
  if (result.Exception || !file.isFile() || file.size() == 0) {
    PrintError(QStringLiteral("the recording failed") +
               (result.ExceptionMsg.empty() ? QString()
                                            : QStringLiteral(": ") + QString::fromStdString(result.ExceptionMsg)));
    return 1;
  }
  std::printf("vexarec: saved %s (%lld bytes)\n", controller.OutputFileName().toLocal8Bit().constData(),
              static_cast<long long>(file.size()));
  return 0;
}
