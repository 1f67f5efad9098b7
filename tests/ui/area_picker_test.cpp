// "Pick on map...": the dialog over a local tile server, drawing and adjusting the rectangle with
// the mouse, and OK and Cancel in the main window.
#include <QBuffer>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include "engine/area_cover.h"
#include "engine/area_input.h"
#include "engine/level_set.h"
#include "engine/task_area.h"
#include "mapview/area_pick_map.h"
#include "mapview/web_tile_source.h"
#include "platform/ini_file.h"
#include "platform/program_layout.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_server.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unit1.h"
#include "ui/area_picker_dialog.h"
#include "ui/form_widgets.h"

namespace {

using namespace mapview;

std::string GreenJpeg() {
  QImage image(256, 256, QImage::Format_RGB32);
  image.fill(QColor(20, 160, 60));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG");
  return bytes.toStdString();
}

// The browsing cache goes to a test folder, not the user's.
struct CacheHome {
  TempDir dir;
  ScopedEnv variable{"XDG_CACHE_HOME", dir.Path()};
};

TEST(AreaPicker, DrawnWithTheMouseOverServerTilesAndAdjustedByAnEdge) {
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Ok(GreenJpeg()));
  CacheHome cache;
  AreaPickerInputs inputs;
  inputs.settings.tileServer = server.HostPort();
  inputs.cacheFolder = TileCacheFolder(server.HostPort());
  AreaPickerDialog dialog(std::move(inputs));
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  AreaPickMap& map = dialog.Map();
  QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_FALSE(dialog.Texts()) << "no rectangle from empty fields";

  // The world's tiles arrive from the server and are drawn.
  bool complete = false;
  QObject::connect(&map, &MapWidget::painted, [&complete](bool all) { complete = all; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return complete; }, 5000));
  EXPECT_GT(dialog.Source().Requests(), 0);
  EXPECT_NEAR(map.grab().toImage().pixelColor(map.width() / 2, map.height() / 2).green(), 160, 12);
  const QColor middle = map.grab().toImage().pixelColor(map.width() / 2, map.height() / 2);
  EXPECT_NEAR(middle.green(), 160, 12);

  // After "Draw area" a plain drag draws, then the mode ends.
  EXPECT_FALSE(map.DrawMode());
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == "Draw area") button->click();
  }
  ASSERT_TRUE(map.DrawMode());
  QTest::mouseClick(&map, Qt::LeftButton, Qt::NoModifier, QPoint(map.width() / 2, map.height() / 2));
  EXPECT_FALSE(map.Rectangle()) << "a click draws nothing";
  ASSERT_TRUE(map.DrawMode());
  QTest::mousePress(&map, Qt::LeftButton, Qt::NoModifier, QPoint(map.width() / 2 - 40, map.height() / 2 - 30));
  QTest::mouseMove(&map, QPoint(map.width() / 2 + 10, map.height() / 2));
  QTest::mouseMove(&map, QPoint(map.width() / 2 + 40, map.height() / 2 + 30));
  QTest::mouseRelease(&map, Qt::LeftButton, Qt::NoModifier, QPoint(map.width() / 2 + 40, map.height() / 2 + 30));
  EXPECT_FALSE(map.DrawMode());
  const std::optional<mapview::TileRange> drawn = map.Range();
  ASSERT_TRUE(drawn);
  EXPECT_LT(drawn->minX, int64_t{1} << (drawn->zoom - 1)) << "across the prime meridian";
  EXPECT_GE(drawn->maxX, int64_t{1} << (drawn->zoom - 1));
  EXPECT_TRUE(ok->isEnabled());

  // The right edge taken by its handle and dragged further right takes more columns, same rows.
  const QRectF shown(QPointF(map.View().ScreenX(WorldCellsOf(*drawn).x0), map.View().ScreenY(WorldCellsOf(*drawn).y0)),
                     QPointF(map.View().ScreenX(WorldCellsOf(*drawn).x1), map.View().ScreenY(WorldCellsOf(*drawn).y1)));
  const QPoint handle(static_cast<int>(shown.right()), static_cast<int>(shown.center().y()));
  QTest::mousePress(&map, Qt::LeftButton, Qt::NoModifier, handle);
  QTest::mouseMove(&map, handle + QPoint(20, 0));
  QTest::mouseMove(&map, handle + QPoint(60, 0));
  QTest::mouseRelease(&map, Qt::LeftButton, Qt::NoModifier, handle + QPoint(60, 0));
  const mapview::TileRange wider = *map.Range();
  EXPECT_EQ(wider.minX, drawn->minX);
  EXPECT_GT(wider.maxX, drawn->maxX);
  EXPECT_EQ(wider.minY, drawn->minY);
  EXPECT_EQ(wider.maxY, drawn->maxY);

  // The figures shown are those of the texts OK hands over.
  const AreaTexts texts = *dialog.Texts();
  const AreaEstimateOrReason area = EstimateArea(texts.left, texts.right, texts.top, texts.bottom, texts.zoom);
  ASSERT_TRUE(area.estimate);
  EXPECT_EQ(area.estimate->tiles, wider.Count());
  bool figuresShown = false;
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    figuresShown = figuresShown || label->text().toStdString() == EstimateText(*area.estimate);
  }
  EXPECT_TRUE(figuresShown);

  // Enter in a go-to field moves the map there and leaves the dialog open.
  auto* longitude = dialog.findChild<QLineEdit*>("goLongitude");
  auto* latitude = dialog.findChild<QLineEdit*>("goLatitude");
  longitude->setText("10,5");
  latitude->setText("50");
  latitude->setFocus();
  QTest::keyClick(latitude, Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  EXPECT_NEAR(map.View().centerX, WorldXOf(10.5), 1e-6);
  EXPECT_NEAR(map.View().centerY, WorldYOf(50), 1e-6);
}

void Drag(QWidget* widget, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::mousePress(widget, Qt::LeftButton, modifiers, from);
  QTest::mouseMove(widget, from + (to - from) / 2);
  QTest::mouseMove(widget, to);
  QTest::mouseRelease(widget, Qt::LeftButton, modifiers, to);
}

// An area typed in the fields fills the view: a plain drag on it pans, and only its middle handle
// or a Ctrl+drag moves it, always by whole tiles, keeping its size; Home brings it back.
TEST(AreaPicker, AnAreaThatFillsTheViewPansAndMovesByItsHandleKeepingItsSize) {
  qmtest::TestServer server;  // the map's tiles are asked of it alone
  AreaPickerInputs inputs;
  inputs.settings.tileServer = server.HostPort();
  inputs.fields = {"5.5", "6.25", "50", "49.5", "13"};
  AreaPickerDialog dialog(std::move(inputs));
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  AreaPickMap& map = dialog.Map();
  const mapview::TileRange typed = *map.Range();
  const auto middle = [&map] {
    const CellRect cells = WorldCellsOf(*map.Range());
    return QPoint(static_cast<int>(map.View().ScreenX((cells.x0 + cells.x1) / 2.0)),
                  static_cast<int>(map.View().ScreenY((cells.y0 + cells.y1) / 2.0)));
  };
  const QPoint inside = middle() + QPoint(-map.width() / 5, map.height() / 6);

  const double centreBefore = map.View().centerX;
  Drag(&map, inside, inside + QPoint(120, 0));
  EXPECT_EQ(map.Range(), typed) << "a plain drag inside pans";
  EXPECT_NE(map.View().centerX, centreBefore);

  for (const QPoint by : {QPoint(37, 23), QPoint(-51, 9), QPoint(13, -41)}) {
    const mapview::TileRange before = *map.Range();
    Drag(&map, middle(), middle() + by);
    const mapview::TileRange after = *map.Range();
    EXPECT_EQ(after.Count(), typed.Count()) << "a move keeps the size";
    EXPECT_EQ(after.maxX - after.minX, typed.maxX - typed.minX);
    EXPECT_NE(after, before) << "the handle moves the area";
  }
  const mapview::TileRange beforeCtrl = *map.Range();
  Drag(&map, middle() + QPoint(-30, 20), middle() + QPoint(-30 + 90, 20), Qt::ControlModifier);
  EXPECT_GT(map.Range()->minX, beforeCtrl.minX);
  EXPECT_EQ(map.Range()->Count(), typed.Count());

  Drag(&map, inside, inside + QPoint(-300, -200));
  map.setFocus();
  QTest::keyClick(&map, Qt::Key_Home);
  const CellRect home = WorldCellsOf(*map.Range());
  EXPECT_NEAR(map.View().centerX, (home.x0 + home.x1) / 2.0, 1.0);
  EXPECT_NEAR(map.View().centerY, (home.y0 + home.y1) / 2.0, 1.0);
  EXPECT_TRUE(dialog.findChild<QLabel*>("pickHint")->text().contains("middle handle"));
}

// Labels of projects over the same place are stacked, not printed over each other.
TEST(AreaPicker, LabelsThatWouldOverlapAreStacked) {
  std::vector<QRectF> placed;
  for (int i = 0; i < 3; ++i) placed.push_back(PlaceLabel(QRectF(10, 10, 80, 16), placed));
  placed.push_back(PlaceLabel(QRectF(50, 18, 80, 16), placed));
  for (size_t i = 0; i < placed.size(); ++i) {
    for (size_t j = 0; j < i; ++j) EXPECT_FALSE(placed[i].intersects(placed[j])) << i << " over " << j;
  }
  EXPECT_EQ(placed[0], QRectF(10, 10, 80, 16)) << "the first keeps its place";
  EXPECT_EQ(PlaceLabel(QRectF(200, 10, 80, 16), placed), QRectF(200, 10, 80, 16)) << "one beside stays";
}

TEST(AreaPicker, OkFillsTheAreaAndZoomAsTypedAndCancelChangesNothing) {
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Ok(GreenJpeg()));
  CacheHome cache;
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n");
  TForm1 window(folder.Path());
  window.show();
  for (auto [edit, text] : {std::pair{window.Edit1, "5.5"}, {window.Edit3, "6.25"}, {window.Edit2, "50"}, {window.Edit4, "49.5"}}) {
    edit->setText(text);
  }
  window.EditTaskName->setText("alps.qmtp");
  const QString pathBefore = window.Edit6->text();

  // The dialog opens on the fields' area; OK after a new rectangle at zoom 11.
  const mapview::TileRange picked{11, 1020, 700, 1030, 706};
  window.RunAreaPicker = [&](AreaPickerDialog& dialog) {
    const AreaEstimateOrReason typed = EstimateArea("5.5", "6.25", "50", "49.5", "13");
    EXPECT_EQ(dialog.Map().Range(), (mapview::TileRange{13, typed.estimate->minX, typed.estimate->minY, typed.estimate->maxX,
                                               typed.estimate->maxY}));
    dialog.findChild<QSpinBox*>()->setValue(11);
    const CellRect cells = WorldCellsOf(picked);
    dialog.Map().SetRectangle(WorldRect{cells.x0 + 0.0, cells.y0 + 0.0, cells.x1 + 0.0, cells.y1 + 0.0});
    return static_cast<int>(QDialog::Accepted);
  };
  window.PickOnMapButton->click();
  const AreaTexts texts = TextsForTiles(11, picked.minX, picked.minY, picked.maxX, picked.maxY);
  EXPECT_EQ(window.Edit1->text().toStdString(), texts.left);
  EXPECT_EQ(window.Edit3->text().toStdString(), texts.right);
  EXPECT_EQ(window.Edit2->text().toStdString(), texts.top);
  EXPECT_EQ(window.Edit4->text().toStdString(), texts.bottom);
  EXPECT_EQ(window.Edit5->text(), "11");
  EXPECT_EQ(window.EditTaskName->text(), "alps.qmtp");
  EXPECT_EQ(window.Edit6->text(), pathBefore);
  EXPECT_TRUE(window.StatusText->text().startsWith("77 tiles (11 x 7)")) << window.StatusText->text().toStdString();

  window.RunAreaPicker = [](AreaPickerDialog& dialog) {
    dialog.Map().SetRectangle(WorldRect{0, 0, 1000, 1000});
    return static_cast<int>(QDialog::Rejected);
  };
  window.PickOnMapButton->click();
  EXPECT_EQ(window.Edit1->text().toStdString(), texts.left);
  EXPECT_EQ(window.Edit2->text().toStdString(), texts.top);
  EXPECT_EQ(window.Edit5->text(), "11");

  // A zoom the picker cannot show (a project file may hold one) leaves its default zoom.
  window.Edit5->setText("20");
  window.RunAreaPicker = [](AreaPickerDialog& dialog) {
    EXPECT_EQ(dialog.Map().DownloadZoom(), 13);
    EXPECT_FALSE(dialog.Map().Rectangle());
    return static_cast<int>(QDialog::Rejected);
  };
  window.PickOnMapButton->click();
  EXPECT_EQ(window.Edit5->text(), "20");
}

mapview::TileRange FieldsRange(int zoom) {
  const AreaEstimate e = *EstimateArea("0", "40", "60", "35", std::to_string(zoom)).estimate;
  return {zoom, e.minX, e.minY, e.maxX, e.maxY};
}

// A level set is shown at its finest level and counted over all; a new zoom takes the fields'
// edges at that zoom, not the tiles of the one before; OK keeps the fields and writes both zooms.
// No zoom goes beyond the server's highest.
TEST(AreaPicker, ShowsALevelSetAtItsFinestLevelCountsItWholeAndOkKeepsIt) {
  qmtest::TestServer server;
  CacheHome cache;
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n[Server low]\r\nUrl=" + server.HostPort() +
                     "\r\nMaxZoom=10\r\n");
  TForm1 window(folder.Path());
  for (auto [edit, text] : {std::pair{window.Edit1, "0"}, {window.Edit3, "40"}, {window.Edit2, "60"}, {window.Edit4, "35"}}) {
    edit->setText(text);
  }
  window.UpDown1->SetPosition(4);
  window.UpDownTo->SetPosition(6);
  window.RunAreaPicker = [](AreaPickerDialog& dialog) {
    EXPECT_EQ(dialog.Map().Range(), FieldsRange(6));
    const std::string total = LevelsTotalText(EstimateLevels("0", "40", "60", "35", {4, 6}).levels);
    EXPECT_TRUE(dialog.findChild<QLabel*>("rangeFigures")->text().startsWith(QString::fromStdString(total)));
    dialog.findChild<QSpinBox*>("zoom")->setValue(8);
    EXPECT_EQ(dialog.Map().Range(), FieldsRange(8)) << "the last level is raised with the first";
    dialog.findChild<QSpinBox*>("zoom")->setValue(7);
    EXPECT_EQ(dialog.Zooms().last, 7) << "and follows it while equal";
    dialog.findChild<QSpinBox*>("zoomTo")->setValue(8);
    return static_cast<int>(QDialog::Accepted);
  };
  window.PickOnMapButton->click();
  EXPECT_EQ(window.Edit3->text(), "40");
  EXPECT_EQ(window.Edit5->text(), "7");
  EXPECT_EQ(window.EditZoomTo->text(), "8");

  qm::IniFile(qm::ConfigFilePath(folder.Path())).WriteString("IniParas", "Server", "low");
  window.UpDownTo->SetPosition(12);
  window.RunAreaPicker = [](AreaPickerDialog& dialog) {
    EXPECT_EQ(dialog.findChild<QSpinBox*>("zoomTo")->maximum(), 10);
    EXPECT_EQ(dialog.Map().Range(), FieldsRange(10));
    return static_cast<int>(QDialog::Accepted);
  };
  window.PickOnMapButton->click();
  EXPECT_EQ(window.EditZoomTo->text(), "10");
}

// A task's shaped area: its covered tiles at the download zoom are tinted, the others in the
// rectangle around them are not; another zoom asks the area for its own tiles; no area, no tint.
TEST(AreaPicker, TintsTheTilesAShapedAreaCoversAtTheDownloadZoom) {
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Ok(GreenJpeg()));
  CacheHome cache;
  AreaPickerInputs inputs;
  inputs.settings.tileServer = server.HostPort();
  inputs.cacheFolder = TileCacheFolder(server.HostPort());
  inputs.fields = {"5.5", "6.25", "50", "49.5", "12"};
  AreaPickerDialog dialog(std::move(inputs));
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  AreaPickMap& map = dialog.Map();
  const auto area = std::make_shared<TaskArea>();
  std::vector<int> zoomsAsked;
  area->coverAt = [&zoomsAsked](int32_t zoom) {  // column 2000: rows 1300 and 1301 at zoom 12
    zoomsAsked.push_back(zoom);
    const int32_t shift = zoom - 12;
    return AreaCover(zoom, 2000 << shift, {{{1300 << shift, (1302 << shift) - 1}}});
  };
  const double lon = LongitudeOf(2000.5 * 128), lat = LatitudeOf(1301.0 * 128);
  map.SetTaskArea(area, {{{lon, lat + 0.01}, {lon + 0.01, lat}, {lon, lat - 0.01}, {lon, lat + 0.01}}});
  ASSERT_TRUE(map.Cover());
  EXPECT_EQ(map.Cover()->Tiles(), 2);
  map.MoveTo({2001.0 * 128, 1301.0 * 128, 40.0 / 128, map.width(), map.height()});  // tiles 40 pixels wide
  bool complete = false;
  QObject::connect(&map, &MapWidget::painted, [&complete](bool all) { complete = all; });
  const auto colourAt = [&](double tileX, double tileY) {
    complete = false;
    map.update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return complete; }, 5000));
    return map.grab().toImage().pixelColor(static_cast<int>(map.View().ScreenX(tileX * 128)),
                                           static_cast<int>(map.View().ScreenY(tileY * 128)));
  };
  const QColor covered = colourAt(2000.2, 1300.5), beside = colourAt(2001.5, 1300.5);
  EXPECT_NEAR(beside.green(), 160, 12) << "the server's imagery, untinted";
  EXPECT_GT(covered.red(), beside.red() + 40) << "tinted yellow";
  map.SetDownloadZoom(13);
  EXPECT_EQ(zoomsAsked, (std::vector<int>{12, 13}));
  EXPECT_EQ(map.Cover()->Tiles(), 4);
  // Handed to the dialog, an area the rectangle leaves out is counted and said to be cut.
  dialog.SetArea(area, {});
  EXPECT_TRUE(dialog.findChild<QLabel*>("rangeFigures")->text().startsWith("The area is cut by the edges: 0 of 2 tiles · 0 tiles in the area"));
  map.SetTaskArea(nullptr, {});
  EXPECT_FALSE(map.Cover());
  EXPECT_NEAR(colourAt(2000.2, 1300.5).red(), beside.red(), 12);
}

}  // namespace
