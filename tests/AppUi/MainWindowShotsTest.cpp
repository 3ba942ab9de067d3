// Pictures of the main window's four tabs: every tab paints within the fixed
// size, and the pictures are saved for a person to look at when
// VEXA_SCREENSHOT_DIR is set.
#include <QImage>
#include <QTabWidget>

#include "AppUi/UiTestSupport.h"
#include "AppUiSupport.h"

namespace vexa::test {
namespace {

using TShotsTest = TMainWindowTest;

TEST_F(TShotsTest, EveryTabPaintsItsControlsInsideTheWindow) {
  app::TfrmMain& window = ShowWindow();
  auto* tabs = Child<QTabWidget>("PageControl1");
  const char* names[] = {"main-settings", "main-capture", "main-watermark", "main-about"};
  for (int index = 0; index < tabs->count(); ++index) {
    tabs->setCurrentIndex(index);
    QTest::qWait(50);
    const QImage picture = window.grab().toImage();
    EXPECT_EQ(picture.size(), window.size());
    // Every visible control of the tab lies inside the window.
    for (QWidget* child : tabs->currentWidget()->findChildren<QWidget*>()) {
      if (!child->isVisible() || child->objectName().isEmpty()) continue;
      const QRect rect(child->mapTo(&window, QPoint(0, 0)), child->size());
      EXPECT_TRUE(window.rect().contains(rect)) << names[index] << ": " << child->objectName().toStdString();
    }
    testing_ui::SaveScreenshot(&window, names[index]);
  }
}

}  // namespace
}  // namespace vexa::test
