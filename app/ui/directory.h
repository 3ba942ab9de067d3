// The output folder chooser: a modal "Browse" dialog with a folder tree.
//
// The first level of the tree stands for the desktop: the home folder, then
// four collections that are not folders themselves and cannot be chosen
// (node index 1 to 4: the computer's file system and mounted volumes, the
// standard places, network shares, bookmarks), whose entries can. The chosen
// folder is kept between uses; a folder on a CD-ROM or DVD is refused.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa::app {

class TfmDirectory : public QDialog {
  Q_OBJECT

 public:
  explicit TfmDirectory(QWidget* parent = nullptr);

  // The folder taken by the last Ok; empty after Cancel or a refusal.
  QString ChosenFolder() const { return ChosenFolder_; }
  // Expands the tree down to `folder` and selects it; false when the folder
  // is not reachable from the tree.
  bool SelectFolder(const QString& folder);
  // The folder of the selected node, empty for a collection node.
  QString SelectedFolder() const;
  bool OkEnabled() const;

  // Replaces the optical-disc test (tests stand in a disc they cannot mount).
  void SetOpticalDiscTest(std::function<bool(const std::string&)> test) { IsOnOpticalDisc_ = std::move(test); }

  static QString OpticalDiscMessage();

  // Cancel, Escape and the close box all leave no chosen folder.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildTopLevel();
  QTreeWidgetItem* AddFolderItem(QTreeWidgetItem* parent, const QString& folder, const QString& caption = {});
  QTreeWidgetItem* AddCollection(const QString& caption, const QString& iconName);
  void Populate(QTreeWidgetItem* item);
  void UpdateOkButton();
  void Ok();

  QTreeWidget* Tree_ = nullptr;
  QPushButton* OkButton_ = nullptr;
  QPushButton* CancelButton_ = nullptr;
  QString ChosenFolder_;
  std::function<bool(const std::string&)> IsOnOpticalDisc_;
};

}  // namespace vexa::app
