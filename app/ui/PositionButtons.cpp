#include "ui/PositionButtons.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QToolButton>

namespace vexa {

namespace {
// Arrows pointing to the place of the overlay in the frame.
const char* const kGlyphs[9] = {"↖", "↑", "↗", "←", "•", "→", "↙", "↓", "↘"};
}  // namespace

TPositionButtons::TPositionButtons(const QString& objectName, QWidget* parent)
    : QGroupBox(QStringLiteral("Position"), parent), group_(new QButtonGroup(this)) {
  setObjectName(objectName);
  auto* grid = new QGridLayout(this);
  grid->setSpacing(2);
  for (int tag = 1; tag <= 9; ++tag) {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("SpeedButton%1").arg(tag));
    button->setText(QString::fromUtf8(kGlyphs[tag - 1]));
    button->setCheckable(true);
    button->setFixedSize(32, 26);
    group_->addButton(button, tag);
    grid->addWidget(button, (tag - 1) / 3, (tag - 1) % 3);
  }
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::idClicked, this, &TPositionButtons::positionClicked);
}

void TPositionButtons::SetPosition(int tag) {
  // An exclusive group cannot release its last button: lift the rule while
  // the buttons are set.
  group_->setExclusive(false);
  for (QAbstractButton* button : group_->buttons()) button->setChecked(group_->id(button) == tag);
  group_->setExclusive(true);
}

int TPositionButtons::Position() const {
  const int id = group_->checkedId();
  return id < 0 ? 0 : id;
}

QToolButton* TPositionButtons::Button(int tag) const { return qobject_cast<QToolButton*>(group_->button(tag)); }

}  // namespace vexa
