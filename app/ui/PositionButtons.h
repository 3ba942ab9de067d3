#pragma once
// The "Position" group of the overlay option dialogs: nine toggle buttons in
// a 3 x 3 grid, tags 1 to 9 row by row from the top left; at most one is down.

#include <QGroupBox>

class QButtonGroup;
class QToolButton;

namespace vexa {

class TPositionButtons : public QGroupBox {
  Q_OBJECT

 public:
  TPositionButtons(const QString& objectName, QWidget* parent);

  // Presses the button with this tag; a tag outside 1-9 leaves none down.
  void SetPosition(int tag);
  // The tag of the button that is down, 0 when none is.
  int Position() const;
  QToolButton* Button(int tag) const;

 signals:
  // The user clicked the button with this tag.
  void positionClicked(int tag);

 private:
  QButtonGroup* group_;
};

}  // namespace vexa
