// Helpers of the window tests: a main window on a settings file of its own,
// real clicks into lists, answers to message boxes, hot keys through XTest.
#pragma once

#include <QComboBox>
#include <QTest>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "AppUi/UiTestSupport.h"
#include "core/IniFile.h"
#include "ui/Unit1.h"

namespace vexa::test {

// Picks entry `index` of `list` the way a user does: opens the list, moves
// to the entry and presses Enter.
void PickInList(QComboBox* list, int index);

// Answers the next message box that opens within `timeoutMs` with `button`,
// and keeps its caption and text.
class TMessageBoxAnswer {
 public:
  explicit TMessageBoxAnswer(QMessageBox::StandardButton button, int timeoutMs = 20000);
  ~TMessageBoxAnswer();
  bool Answered() const { return *Answered_; }
  QString Caption() const { return *Caption_; }
  QString Text() const { return *Text_; }

 private:
  std::shared_ptr<bool> Answered_ = std::make_shared<bool>(false);
  std::shared_ptr<bool> Cancelled_ = std::make_shared<bool>(false);
  std::shared_ptr<QString> Caption_ = std::make_shared<QString>();
  std::shared_ptr<QString> Text_ = std::make_shared<QString>();
};

// Presses Alt+`letter` on the display through XTest, as a keyboard would.
void PressAltKey(char letter);

// A fixture with a fresh main window whose settings file and folders live in
// a temporary folder. ALLUSERSPROFILE points into that folder, so the output
// folder of a fresh start is <temp>/allusers/screenrecorder.
class TMainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 public:
  // Creates the window on the fixture's settings file (not shown yet).
  app::TfrmMain& Window();
  // Creates (when needed) and shows the window, waiting until it is exposed.
  app::TfrmMain& ShowWindow();
  TIniFile Ini() const { return TIniFile(IniPath()); }
  QString IniPath() const { return Temp_.filePath("vexascreenrecorder.ini"); }
  QString TempPath(const QString& name) const { return Temp_.filePath(name); }
  QString AllUsersFolder() const { return Temp_.filePath("allusers/screenrecorder"); }
  // The settings file as text.
  QString IniText() const;

  template <typename T>
  T* Child(const char* name) {
    T* child = Window().findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  std::vector<QUrl> OpenedUrls;

 private:
  QTemporaryDir Temp_;
  QByteArray OldAllUsers_;
  std::unique_ptr<app::TfrmMain> Window_;
};

}  // namespace vexa::test
