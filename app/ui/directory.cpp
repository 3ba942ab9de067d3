#include "ui/directory.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QTextStream>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "core/FolderMedia.h"

namespace vexa::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kPopulatedRole = Qt::UserRole + 1;
constexpr int kFirstCollection = 1;
constexpr int kLastCollection = 4;

QStringList MountPoints(const std::function<bool(const QString& mountPoint, const QString& type)>& wanted) {
  QStringList result;
  QFile mounts("/proc/self/mounts");
  if (!mounts.open(QIODevice::ReadOnly | QIODevice::Text)) return result;
  QTextStream in(&mounts);
  for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
    const QStringList fields = line.split(' ');
    if (fields.size() < 3) continue;
    // /proc/mounts escapes blanks and other special characters as octal.
    QString mountPoint = fields[1];
    mountPoint.replace("\\040", " ").replace("\\011", "\t").replace("\\134", "\\");
    if (wanted(mountPoint, fields[2]) && !result.contains(mountPoint)) result << mountPoint;
  }
  return result;
}

bool IsRemovableMount(const QString& mountPoint, const QString&) {
  return mountPoint.startsWith("/media/") || mountPoint.startsWith("/run/media/") || mountPoint.startsWith("/mnt/");
}

bool IsNetworkMount(const QString&, const QString& type) {
  static const QStringList kTypes{"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p", "afs"};
  return kTypes.contains(type);
}

QStringList Bookmarks() {
  QStringList result;
  const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  QFile file(configHome + "/gtk-3.0/bookmarks");
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return result;
  QTextStream in(&file);
  for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
    const QUrl url(line.section(' ', 0, 0));
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir()) result << url.toLocalFile();
  }
  return result;
}

bool HasSubfolders(const QString& folder) {
  return !QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks).isEmpty();
}

// Is `folder` the same as or inside `ancestor`?
bool IsWithin(const QString& folder, const QString& ancestor) {
  if (ancestor == "/") return folder.startsWith('/');
  return folder == ancestor || folder.startsWith(ancestor + '/');
}

}  // namespace

QString TfmDirectory::OpticalDiscMessage() {
  return QStringLiteral("Output folder cannot be located in CD-ROM.Please select another folder.");
}

TfmDirectory::TfmDirectory(QWidget* parent)
    : QDialog(parent), IsOnOpticalDisc_([](const std::string& path) { return IsOnOpticalDisc(path); }) {
  setObjectName("fmDirectory");
  setWindowTitle("Browse");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel("Please select an output directory:", this);
  label->setObjectName("Label1");
  layout->addWidget(label);
  Tree_ = new QTreeWidget(this);
  Tree_->setObjectName("stview_selectdir");
  Tree_->setHeaderHidden(true);
  Tree_->setColumnCount(1);
  layout->addWidget(Tree_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  OkButton_ = new QPushButton("Ok", this);
  OkButton_->setObjectName("btnOk");
  OkButton_->setDefault(true);
  CancelButton_ = new QPushButton("Cancel", this);
  CancelButton_->setObjectName("btnCancel");
  buttons->addWidget(OkButton_);
  buttons->addWidget(CancelButton_);
  layout->addLayout(buttons);

  connect(Tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { Populate(item); });
  connect(Tree_, &QTreeWidget::currentItemChanged, this, [this] { UpdateOkButton(); });
  connect(OkButton_, &QPushButton::clicked, this, [this] { Ok(); });
  connect(CancelButton_, &QPushButton::clicked, this, [this] { reject(); });
  BuildTopLevel();
  resize(322, 351);
}

QTreeWidgetItem* TfmDirectory::AddFolderItem(QTreeWidgetItem* parent, const QString& folder,
                                             const QString& caption) {
  static const QFileIconProvider icons;
  auto* item = new QTreeWidgetItem(parent);
  const QString name = QFileInfo(folder).fileName();
  item->setText(0, !caption.isEmpty() ? caption : name.isEmpty() ? folder : name);
  item->setIcon(0, icons.icon(QFileInfo(folder)));
  item->setData(0, kPathRole, folder);
  item->setData(0, kPopulatedRole, false);
  item->setChildIndicatorPolicy(HasSubfolders(folder) ? QTreeWidgetItem::ShowIndicator
                                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  return item;
}

QTreeWidgetItem* TfmDirectory::AddCollection(const QString& caption, const QString& iconName) {
  auto* item = new QTreeWidgetItem(Tree_);
  item->setText(0, caption);
  item->setIcon(0, QIcon::fromTheme(iconName, style()->standardIcon(QStyle::SP_DirIcon)));
  item->setData(0, kPopulatedRole, true);
  return item;
}

void TfmDirectory::BuildTopLevel() {
  Tree_->clear();
  AddFolderItem(Tree_->invisibleRootItem(), QDir::homePath(), "Home");

  QTreeWidgetItem* computer = AddCollection("Computer", "computer");
  AddFolderItem(computer, "/", "File System");
  for (const QString& mountPoint : MountPoints(IsRemovableMount)) AddFolderItem(computer, mountPoint);

  QTreeWidgetItem* places = AddCollection("Places", "folder");
  for (auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                        QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation,
                        QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation}) {
    const QString folder = QStandardPaths::writableLocation(location);
    if (!folder.isEmpty() && folder != QDir::homePath() && QFileInfo(folder).isDir())
      AddFolderItem(places, folder);
  }

  QTreeWidgetItem* network = AddCollection("Network", "network-workgroup");
  for (const QString& mountPoint : MountPoints(IsNetworkMount)) AddFolderItem(network, mountPoint);

  QTreeWidgetItem* bookmarks = AddCollection("Bookmarks", "bookmarks");
  for (const QString& folder : Bookmarks()) AddFolderItem(bookmarks, folder);

  for (QTreeWidgetItem* collection : {computer, places, network, bookmarks})
    collection->setChildIndicatorPolicy(collection->childCount() > 0
                                            ? QTreeWidgetItem::ShowIndicator
                                            : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TfmDirectory::Populate(QTreeWidgetItem* item) {
  if (item->data(0, kPopulatedRole).toBool()) return;
  item->setData(0, kPopulatedRole, true);
  const QString folder = item->data(0, kPathRole).toString();
  QDir dir(folder);
  const QStringList names =
      dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : names) AddFolderItem(item, dir.filePath(name));
  if (names.isEmpty()) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool TfmDirectory::SelectFolder(const QString& folder) {
  const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  // The deepest folder node on the first two levels that holds the target.
  QTreeWidgetItem* best = nullptr;
  QString bestPath;
  std::function<void(QTreeWidgetItem*, int)> scan = [&](QTreeWidgetItem* parent, int depth) {
    for (int i = 0; i < parent->childCount(); ++i) {
      QTreeWidgetItem* child = parent->child(i);
      const QString path = child->data(0, kPathRole).toString();
      if (!path.isEmpty() && IsWithin(target, path) && path.size() > bestPath.size()) {
        best = child;
        bestPath = path;
      }
      if (depth == 0 && path.isEmpty()) scan(child, 1);
    }
  };
  scan(Tree_->invisibleRootItem(), 0);
  if (!best) return false;
  QTreeWidgetItem* item = best;
  while (item->data(0, kPathRole).toString() != target) {
    Populate(item);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && !next; ++i)
      if (IsWithin(target, item->child(i)->data(0, kPathRole).toString())) next = item->child(i);
    if (!next) return false;
    item->setExpanded(true);
    item = next;
  }
  for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) parent->setExpanded(true);
  Tree_->setCurrentItem(item);
  Tree_->scrollToItem(item);
  return true;
}

QString TfmDirectory::SelectedFolder() const {
  const QTreeWidgetItem* item = Tree_->currentItem();
  return item ? item->data(0, kPathRole).toString() : QString();
}

bool TfmDirectory::OkEnabled() const { return OkButton_->isEnabled(); }

void TfmDirectory::UpdateOkButton() {
  const QTreeWidgetItem* item = Tree_->currentItem();
  bool collection = false;
  if (item && !item->parent()) {
    const int index = Tree_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    collection = index >= kFirstCollection && index <= kLastCollection;
  }
  OkButton_->setEnabled(!collection);
}

void TfmDirectory::showEvent(QShowEvent* event) {
  resize(322, 351);
  BuildTopLevel();
  SelectFolder(QDir::homePath());
  UpdateOkButton();
  QDialog::showEvent(event);
}

void TfmDirectory::Ok() {
  ChosenFolder_ = SelectedFolder();
  if (!ChosenFolder_.isEmpty() && IsOnOpticalDisc_ && IsOnOpticalDisc_(ChosenFolder_.toStdString())) {
    ChosenFolder_.clear();
    QMessageBox box(QMessageBox::Information, QGuiApplication::applicationDisplayName(), OpticalDiscMessage(),
                    QMessageBox::Ok, this);
    box.setObjectName("OpticalDiscMessage");
    box.exec();
    return;
  }
  accept();
}

void TfmDirectory::reject() {
  ChosenFolder_.clear();
  QDialog::reject();
}

}  // namespace vexa::app
