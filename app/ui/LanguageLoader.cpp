#include "ui/LanguageLoader.h"

#include "core/LanguageFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>

#include <algorithm>

namespace vexa {

namespace {

QString CaptionKey(const QObject* o) { return o->objectName() + QStringLiteral(".Caption"); }

// Caption and hint from ".Caption" (labels, check boxes, radio buttons).
template <typename Widget>
void TranslateCaptionAndHint(Widget* w, const TLanguageFile& file) {
  const QString caption = file.Translation(CaptionKey(w), w->text());
  if (caption != w->text()) w->setText(caption);
  w->setToolTip(file.Translation(CaptionKey(w), caption));
}

void TranslateLabel(QLabel* label, const TLanguageFile& file) {
  if (!label->pixmap().isNull()) return;  // a picture, not a caption
  TranslateCaptionAndHint(label, file);
  const int wanted = QFontMetrics(label->font()).horizontalAdvance(label->text());
  label->resize(std::clamp(wanted, label->minimumWidth(), label->maximumWidth()), label->height());
}

// The tab widget showing this page, if it is one.
QTabWidget* TabOfPage(QWidget* page) {
  auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
  return stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
}

// An item of a menu (not the action standing for a submenu, nor a separator).
bool IsMenuItem(const QAction* action) {
  if (action->isSeparator() || action->menu()) return false;
  const auto* menu = qobject_cast<const QMenu*>(action->parent());
  return menu && menu->actions().contains(const_cast<QAction*>(action));
}

bool IsQtInternal(const QObject* o) { return o->objectName().startsWith(QStringLiteral("qt_")); }

// Whether the component belongs to this window and not to a window of its
// own inside it (a dialog the window owns); menus count as the window's.
bool BelongsTo(const QObject* o, const QWidget* window) {
  for (const QObject* p = o; p && p != window; p = p->parent()) {
    const auto* w = qobject_cast<const QWidget*>(p);
    if (w && w->isWindow() && !qobject_cast<const QMenu*>(w)) return false;
  }
  return true;
}

void TranslateComponent(QObject* o, const TLanguageFile& file) {
  if (IsQtInternal(o)) return;
  if (auto* action = qobject_cast<QAction*>(o)) {
    // Only the unnamed items made at run time (the language items) go by
    // their bare ".Caption" key; other unnamed actions belong to Qt.
    if (!IsMenuItem(action) && o->objectName().isEmpty()) return;
    if (action->menu()) return;
    action->setText(file.Translation(CaptionKey(o), action->text()));
    return;
  }
  if (o->objectName().isEmpty()) return;
  if (auto* label = qobject_cast<QLabel*>(o)) return TranslateLabel(label, file);
  if (auto* check = qobject_cast<QCheckBox*>(o)) return TranslateCaptionAndHint(check, file);
  if (auto* radio = qobject_cast<QRadioButton*>(o)) return TranslateCaptionAndHint(radio, file);
  if (auto* button = qobject_cast<QPushButton*>(o)) {
    button->setText(file.Translation(CaptionKey(o), button->text()));
    button->setToolTip(file.Translation(o->objectName() + QStringLiteral(".Hint"), button->toolTip()));
    return;
  }
  if (auto* menu = qobject_cast<QMenu*>(o)) {
    menu->setTitle(file.Translation(CaptionKey(o), menu->title()));
    return;
  }
  if (auto* group = qobject_cast<QGroupBox*>(o)) {
    group->setTitle(file.Translation(CaptionKey(o), group->title()));
    return;
  }
  if (auto* page = qobject_cast<QWidget*>(o)) {
    if (QTabWidget* tabs = TabOfPage(page)) {
      const int index = tabs->indexOf(page);
      tabs->setTabText(index, file.Translation(CaptionKey(o), tabs->tabText(index)));
    }
  }
}

}  // namespace

void ApplyLanguage(QWidget* window, const QString& folder, const QString& name) {
  const TLanguageFile file(LanguageFilePath(folder, name));
  const QList<QObject*> components = window->findChildren<QObject*>();
  for (QObject* o : components)
    if (BelongsTo(o, window)) TranslateComponent(o, file);
}

void FillLanguageMenu(QMenu* menu, const QStringList& names, std::function<void(const QString&)> onChosen) {
  for (const QString& name : names) {
    const QString caption = LanguageCaption(name);
    if (caption.isEmpty()) continue;
    auto* item = new QAction(caption, menu);  // owned by the menu
    QObject::connect(item, &QAction::triggered, menu, [item, onChosen] {
      const QString fileName = LanguageFileForCaption(item->text());
      if (!fileName.isEmpty()) onChosen(fileName);
    });
    menu->addAction(item);
  }
}

}  // namespace vexa
