#pragma once
// The image watermark's option dialog: where the picture goes in the frame.

#include <QDialog>
#include <QString>

class QPushButton;

namespace vexa {

class TPositionButtons;

class TfrmAddImageOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAddImageOptions(QString iniFileName, QWidget* parent = nullptr);

  TPositionButtons* Positions = nullptr;
  QPushButton* btnCloseOptions = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString iniFileName_;
};

}  // namespace vexa
