#pragma once
// The image watermark's option dialog: where the picture goes in the frame.

#include <QDialog>
#include <QString>

#include <functional>

class QPushButton;

namespace vexa {

class TPositionButtons;

class TfrmAddImageOptions : public QDialog {
  Q_OBJECT

 public:
  // iniFileName names the settings file whenever it is read or written.
  explicit TfrmAddImageOptions(std::function<QString()> iniFileName, QWidget* parent = nullptr);

  TPositionButtons* Positions = nullptr;
  QPushButton* btnCloseOptions = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<QString()> iniFileName_;
};

}  // namespace vexa
