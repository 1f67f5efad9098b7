// The combiner's window: the output following the project and the format until the user names
// it, results that go when the fields change, and buttons that stay in a window made small.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include "companions/file_dialog_columns.h"
#include "companions/mapcombiner_window.h"
#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_helpers.h"

namespace {

class MapCombinerWindowTest : public ::testing::Test {
 protected:
  void RunToEnd() {
    window.CombineButton->click();
    ASSERT_TRUE(WaitUntil([this] { return window.CombineButton->text() == "Combine"; }));
  }

  ProgramFolderForTest program;
  TempDir dir;
  MapCombinerWindow window{program.Path()};
};

TEST_F(MapCombinerWindowTest, TheOutputFollowsProjectAndFormatUntilTheUserNamesIt) {
  window.ProjectEdit->setText("/maps/newtask.qmtp");
  EXPECT_EQ(window.OutputEdit->text(), "/maps/newtask.tif");
  window.ProjectEdit->setText("/maps/europe7.qmtp");
  EXPECT_EQ(window.OutputEdit->text(), "/maps/europe7.tif");
  window.FormatBox->setCurrentIndex(2);
  EXPECT_EQ(window.OutputEdit->text(), "/maps/europe7.vrt");

  window.OutputEdit->clear();
  TypeText(window.OutputEdit, "/out/mine.vrt");
  window.ProjectEdit->setText("/maps/alps.qmtp");
  EXPECT_EQ(window.OutputEdit->text(), "/out/mine.vrt");
  window.FormatBox->setCurrentIndex(3);  // a named output still takes the new format's extension
  EXPECT_EQ(window.OutputEdit->text(), "/out/mine.mbtiles");
  // Named for another format than the one chosen: a VRT does not land in a .tif.
  window.OutputEdit->clear();
  TypeText(window.OutputEdit, "/out/big.tif");
  window.FormatBox->setCurrentIndex(2);
  EXPECT_EQ(window.OutputEdit->text(), "/out/big.vrt");
}

TEST_F(MapCombinerWindowTest, AResultGoesWithAChangedFormatAndAFailedRunShowsNoProgress) {
  qm::WriteFileAtomic(dir.File("tiny.qmtp"), "[Zoom]\r\nZoom=13\r\n[XY]\r\nMinX=2412\r\nMinY=3080\r\nMaxX=2413\r\nMaxY=3080\r\n");
  window.ProjectEdit->setText(QString::fromStdString(dir.File("tiny.qmtp")));
  RunToEnd();
  EXPECT_TRUE(window.ResultLabel->text().startsWith("Done: 2 tiles")) << window.ResultLabel->text().toStdString();
  EXPECT_EQ(window.Progress->value(), 1000);
  EXPECT_TRUE(window.OpenFolderButton->isEnabled());

  window.FormatBox->setCurrentIndex(2);
  EXPECT_EQ(window.Progress->value(), 0);
  EXPECT_FALSE(window.ResultLabel->text().startsWith("Done"));
  EXPECT_FALSE(window.OpenFolderButton->isEnabled());

  RunToEnd();
  EXPECT_EQ(window.Progress->value(), 1000);
  window.ProjectEdit->setText(QString::fromStdString(dir.File("absent.qmtp")));
  RunToEnd();
  EXPECT_EQ(window.Progress->value(), 0);
  EXPECT_TRUE(window.ResultLabel->text().startsWith("Cannot open file"));
}

TEST_F(MapCombinerWindowTest, LowerLevelsGoWithPackagesAndCompressionWithGeoTiffs) {
  EXPECT_TRUE(window.CompressionBox->isEnabled());
  EXPECT_FALSE(window.LowerZoomBox->isEnabled());
  window.FormatBox->setCurrentIndex(window.FormatBox->findText("GeoPackage tiles (every level)"));
  EXPECT_FALSE(window.CompressionBox->isEnabled());
  EXPECT_TRUE(window.LowerZoomBox->isEnabled());
  EXPECT_EQ(window.LowerZoomBox->text(), "none");

  qm::WriteFileAtomic(dir.File("tiny.qmtp"), "[Zoom]\r\nZoom=13\r\n[XY]\r\nMinX=2412\r\nMinY=3080\r\nMaxX=2413\r\nMaxY=3080\r\n");
  window.ProjectEdit->setText(QString::fromStdString(dir.File("tiny.qmtp")));
  EXPECT_EQ(window.OutputEdit->text().toStdString(), dir.File("tiny.gpkg"));
  window.LowerZoomBox->setValue(10);
  RunToEnd();
  EXPECT_TRUE(window.ResultLabel->text().startsWith("Done: 2 tiles")) << window.ResultLabel->text().toStdString();
  EXPECT_TRUE(window.ResultLabel->toolTip().contains(
      QString::fromUtf8("; zooms 10–13, of which 10–12 made from the tiles below; 0 tiles in the file.")))
      << window.ResultLabel->toolTip().toStdString();
  EXPECT_TRUE(qm::FileExists(dir.File("tiny.gpkg")));

  // Transparency asked for where the map is JPEG: the result names the colour used instead.
  window.FormatBox->setCurrentIndex(window.FormatBox->findText("JPEG with world file"));
  RunToEnd();
  EXPECT_TRUE(window.ResultLabel->toolTip().contains(
      "JPEG keeps no transparency: where there is no tile the map is filled with #FFFFFF."))
      << window.ResultLabel->toolTip().toStdString();

  window.ProjectEdit->setText(QString::fromStdString(dir.File("absent.qmset")));
  RunToEnd();
  EXPECT_TRUE(window.ResultLabel->text().startsWith("Cannot open file")) << window.ResultLabel->text().toStdString();
}

TEST_F(MapCombinerWindowTest, AnOutputThatIsTheProjectIsRefusedWithTheReasonAndTheProjectKept) {
  const std::string project = "[Zoom]\r\nZoom=13\r\n[XY]\r\nMinX=2412\r\nMinY=3080\r\nMaxX=2413\r\nMaxY=3080\r\n";
  qm::WriteFileAtomic(dir.File("tiny.qmtp"), project);
  window.ProjectEdit->setText(QString::fromStdString(dir.File("tiny.qmtp")));
  window.FormatBox->setCurrentIndex(window.FormatBox->findText("MBTiles package (every level)"));
  window.OutputEdit->clear();
  TypeText(window.OutputEdit, QString::fromStdString(dir.File("tiny.qmtp")));
  RunToEnd();
  EXPECT_EQ(window.ResultLabel->toolTip().toStdString(),
            "The output " + dir.File("tiny.qmtp") + " is a file the map is made from; choose another file.");
  EXPECT_FALSE(window.OpenFolderButton->isEnabled());
  EXPECT_EQ(qm::ReadWholeFile(dir.File("tiny.qmtp")), project);
}

TEST_F(MapCombinerWindowTest, AWindowMadeSmallKeepsItsButtonsInsideBelowALongResult) {
  window.show();
  window.ProjectEdit->setText(QString::fromStdString(dir.File(std::string(3, 'x') + "/a-folder-of-maps-with-a-long-name/" +
                                                              "and-another-one-below-it/absent-project.qmtp")));
  RunToEnd();
  window.resize(50, 50);
  ASSERT_TRUE(WaitUntil([this] { return window.CombineButton->isVisible(); }));
  for (QWidget* button : {static_cast<QWidget*>(window.CombineButton), static_cast<QWidget*>(window.OpenFolderButton)}) {
    const QRect inWindow(button->mapTo(&window, QPoint(0, 0)), button->size());
    EXPECT_TRUE(window.rect().contains(inWindow)) << window.width() << " x " << window.height();
  }
}

// Qt's own file dialog shows Size, Type and Date Modified beside a name as wide as their contents.
TEST_F(MapCombinerWindowTest, FileDialogsShowTheirColumnsWhole) {
  qm::WriteFileAtomic(dir.File("a-project-with-a-name-of-some-length.qmtp"), std::string(123456, 'x'));
  FileDialogColumns columns;
  qApp->installEventFilter(&columns);
  QFileDialog dialog(&window, "Open project", QString::fromStdString(dir.Path()));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setViewMode(QFileDialog::Detail);
  dialog.show();
  auto* view = dialog.findChild<QTreeView*>();
  ASSERT_NE(view, nullptr);
  const auto whole = [view] {
    QHeaderView* header = view->header();
    if (view->model()->rowCount(view->rootIndex()) == 0) return false;
    for (int column = 1; column < header->count(); ++column) {
      const int content = static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column);
      if (header->sectionSize(column) < std::max(content, header->sectionSizeHint(column))) return false;
      if (header->sectionViewportPosition(column) + header->sectionSize(column) > view->viewport()->width()) return false;
    }
    return true;
  };
  EXPECT_TRUE(WaitUntil(whole));
  qApp->removeEventFilter(&columns);
}

}  // namespace
