#pragma once
// Applying a language file to live windows and the "Language" menu.

#include <QString>
#include <QStringList>

#include <functional>

class QMenu;
class QWidget;

namespace vexa {

// Translates the captions and hints of one window's components by their
// object names from the file of that language. Labels, check boxes and radio
// buttons take caption and hint from "<name>.Caption"; push buttons their
// caption from "<name>.Caption" and their hint from "<name>.Hint"; menu items,
// menus, group boxes and tab pages their caption. Other kinds keep their texts,
// and so does every component whose key is absent. Windows of their own
// inside the window (its dialogs) are left to their own call.
void ApplyLanguage(QWidget* window, const QString& folder, const QString& name);

// Fills the menu with one item per known language among the names, in their
// order, captioned with the language's own name; unknown names give no item.
// Choosing an item calls onChosen with the file name that belongs to the
// item's caption at that moment (nothing when it matches none).
void FillLanguageMenu(QMenu* menu, const QStringList& names, std::function<void(const QString&)> onChosen);

}  // namespace vexa
