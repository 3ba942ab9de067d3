// The window tests run inside one QApplication on the test display. HOME and
// the configuration folder point into a temporary folder, so that no test
// touches the user's files.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  QTemporaryDir home;
  if (!home.isValid()) return 2;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication application(argc, argv);
  QApplication::setApplicationDisplayName("Vexa Screen Recorder");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
