// The App suite runs with a QGuiApplication (fonts and painting need one); it
// uses the offscreen platform unless the environment chooses another, so the
// tests never put a window on the display that the recordings capture.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <unistd.h>

#include <cstring>

#include "core/IniFile.h"

namespace {

// "--ini-writer FILE": writes big keys (numbered values) into FILE until killed (the
// interrupted-write test runs this in a child process).
[[noreturn]] void RunIniWriter(const char* AFileName) {
  vexa::TIniFile writer(QString::fromUtf8(AFileName));
  const QString filler(2000, QLatin1Char('x'));
  for (int i = 0;; ++i) writer.WriteString(QStringLiteral("settings"), QStringLiteral("k%1").arg(i % 50),
                       filler + QString::number(getpid()) + QLatin1Char('.') + QString::number(i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--ini-writer") == 0) RunIniWriter(argv[2]);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
