// vexa-screen-recorder: the recorder's main window.
#include <QApplication>

#include <csignal>

#include "ui/AppIcon.h"
#include "ui/Unit1.h"

int main(int argc, char* argv[]) {
  // Past a file-size limit a write fails (and the recording reports it)
  // instead of the signal ending the program with the file unfinished.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  QApplication::setApplicationName("vexa-screen-recorder");
  QApplication::setApplicationDisplayName("Vexa Screen Recorder");
  QApplication::setDesktopFileName("vexa-screen-recorder");
  QApplication::setWindowIcon(vexa::app::RecorderIcon());
  // The window creates the output folder chooser and the option dialogs with
  // itself; only the window is shown.
  vexa::app::TfrmMain window;
  window.show();
  return QApplication::exec();
}
