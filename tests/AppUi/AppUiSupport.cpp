#include "AppUiSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "ui/RegionOutline.h"

namespace vexa::test {

void PickInList(QComboBox* list, int index) {
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(list->isEnabled()) << list->objectName().toStdString();
  list->showPopup();
  QAbstractItemView* view = list->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
  const QModelIndex item = view->model()->index(index, list->modelColumn(), view->rootIndex());
  ASSERT_TRUE(item.isValid()) << "entry " << index << " of " << list->objectName().toStdString();
  // Walk to the entry in the open list and take it with Enter (a click right
  // after the list opens may be taken for the end of the opening click).
  view->setCurrentIndex(item);
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !view->window()->isVisible(); }));
  EXPECT_EQ(list->currentIndex(), index) << list->objectName().toStdString();
}

TMessageBoxAnswer::TMessageBoxAnswer(QMessageBox::StandardButton button, int timeoutMs) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(20);
  auto remaining = std::make_shared<int>(timeoutMs / 20);
  auto answered = Answered_;
  auto cancelled = Cancelled_;
  auto caption = Caption_;
  auto text = Text_;
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    if (*cancelled || --*remaining < 0) {
      timer->deleteLater();
      return;
    }
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    QAbstractButton* target = box->button(button);
    if (!target) return;
    *caption = box->windowTitle();
    *text = box->text();
    *answered = true;
    timer->stop();
    timer->deleteLater();
    target->click();
  });
  timer->start();
}

TMessageBoxAnswer::~TMessageBoxAnswer() { *Cancelled_ = true; }

void PressAltKey(char letter) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  const KeyCode alt = XKeysymToKeycode(display, XK_Alt_L);
  const char name[2] = {static_cast<char>(std::tolower(letter)), 0};
  const KeyCode key = XKeysymToKeycode(display, XStringToKeysym(name));
  ASSERT_NE(alt, 0);
  ASSERT_NE(key, 0);
  XTestFakeKeyEvent(display, alt, True, 0);
  XTestFakeKeyEvent(display, key, True, 0);
  XTestFakeKeyEvent(display, key, False, 0);
  XTestFakeKeyEvent(display, alt, False, 0);
  XSync(display, False);
  XCloseDisplay(display);
}

void TMainWindowTest::SetUp() {
  ASSERT_TRUE(Temp_.isValid());
  OldAllUsers_ = qgetenv("ALLUSERSPROFILE");
  qputenv("ALLUSERSPROFILE", Temp_.filePath("allusers").toUtf8());
}

void TMainWindowTest::TearDown() {
  // Dismiss whatever modal box a failed test left open, then close without asking.
  Window_.reset();
  app::CloseRegionOutline();
  if (OldAllUsers_.isNull())
    qunsetenv("ALLUSERSPROFILE");
  else
    qputenv("ALLUSERSPROFILE", OldAllUsers_);
}

app::TfrmMain& TMainWindowTest::Window() {
  if (!Window_) {
    Window_ = std::make_unique<app::TfrmMain>();
    Window_->SetIniFileName(IniPath());
    Window_->SetUrlOpener([this](const QUrl& url) { OpenedUrls.push_back(url); });
  }
  return *Window_;
}

app::TfrmMain& TMainWindowTest::ShowWindow() {
  app::TfrmMain& window = Window();
  if (!window.isVisible()) {
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QTest::qWait(20);
  }
  return window;
}

QString TMainWindowTest::IniText() const {
  QFile file(IniPath());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace vexa::test
