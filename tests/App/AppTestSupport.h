// A recorder front end for tests: answers the controller's questions as told
// and records every message, status text and control state it receives.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "core/RecorderHost.h"

namespace vexa::test {

class TTestHost : public TRecorderHost {
 public:
  bool Answer = true;  // to AskYesNo

  QStringList Warnings;
  QStringList Questions;
  QStringList StatusTexts;
  QStringList StartCaptions;
  QStringList OpenedFolders;
  std::vector<TRecorderState> States;
  int Beeps = 0;
  int Minimized = 0;
  int AudioUntickedCount = 0;
  bool StartEnabled = true;
  QString Caption = QStringLiteral("&Start");

  void ShowWarning(const QString& AText) override { Warnings << AText; }
  bool AskYesNo(const QString& AText) override {
    Questions << AText;
    return Answer;
  }
  void Beep() override { ++Beeps; }
  void MinimizeApplication() override { ++Minimized; }
  void OpenFolder(const QString& AFolder) override { OpenedFolders << AFolder; }
  void SetStatusText(const QString& AText) override { StatusTexts << AText; }
  QString StartCaption() const override { return Caption; }
  void SetStartCaption(const QString& ACaption) override {
    Caption = ACaption;
    StartCaptions << ACaption;
  }
  void SetStartEnabled(bool AEnabled) override { StartEnabled = AEnabled; }
  void ApplyControlState(TRecorderState AState) override {
    States.push_back(AState);
    StartEnabled = ControlEnabled(rcStart, AState);
  }
  void AudioUnticked() override { ++AudioUntickedCount; }
  void ProcessEvents() override {}
};

// Sets an environment variable for the life of the object.
class TScopedEnv {
 public:
  TScopedEnv(const char* AName, const QString& AValue);
  ~TScopedEnv();
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  QByteArray Name_;
  QByteArray Old_;
  bool HadOld_;
};

// The whole text of a file ("" when missing).
QString FileText(const QString& APath);

}  // namespace vexa::test
