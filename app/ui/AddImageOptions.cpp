#include "ui/AddImageOptions.h"

#include "core/IniFile.h"
#include "core/Settings.h"
#include "ui/PositionButtons.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vexa {

TfrmAddImageOptions::TfrmAddImageOptions(std::function<QString()> iniFileName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      iniFileName_(std::move(iniFileName)) {
  setObjectName(QStringLiteral("frmAddImageOptions"));
  setWindowTitle(QStringLiteral("Add Watermark Options"));
  setModal(true);
  Positions = new TPositionButtons(QStringLiteral("grpImagePosition"), this);
  btnCloseOptions = new QPushButton(QStringLiteral("Close"), this);
  btnCloseOptions->setObjectName(QStringLiteral("btnCloseOptions"));
  btnCloseOptions->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(Positions);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(btnCloseOptions);
  layout->addLayout(bottom);

  connect(btnCloseOptions, &QPushButton::clicked, this, &QDialog::accept);
  connect(Positions, &TPositionButtons::positionClicked, this, [this](int tag) {
    TIniFile ini(iniFileName_());
    if (!WriteIntSetting(ini, keys::ImagePosition, tag))
      QMessageBox::warning(this, QStringLiteral("Warning"), ini.LastError());
  });
}

void TfrmAddImageOptions::showEvent(QShowEvent* event) {
  Positions->SetPosition(ReadIntSetting(TIniFile(iniFileName_()), keys::ImagePosition));
  QDialog::showEvent(event);
}

}  // namespace vexa
