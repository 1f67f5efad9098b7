// "Area from file...": a shape from a vector file narrows the download to its tiles. The fields
// take the shape's bounding box; the controller takes the area; the row under the fields names it.
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "download/area_program.h"
#include "engine/task_area.h"
#include "platform/text_format.h"
#include "ui/Unit1.h"
#include "ui/elided_label.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

namespace {

constexpr const char* kVectorFiles =
    "Vector files (*.geojson *.json *.geojsonl *.geojsons *.kml *.kmz *.gpx *.shp *.gpkg *.fgb *.csv);;All files (*)";
constexpr const char* kNoArea = "The whole rectangle";
constexpr const char* kBufferTip = "Metres on the ground by which the shape's lines and points are widened";
// The shape is read again once typing in the buffer pauses, not at every key.
constexpr int kBufferPauseMs = 400;

QPushButton* RowButton(QWidget* parent, const QString& text, int x, int width) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(x, 226, width, 23);
  return button;
}

}  // namespace

void TForm1::BuildAreaRow() {
  AreaFileButton = RowButton(Panel2, "Area from file...", 6, 92);
  AreaFileButton->setToolTip("Download only the tiles of a region, route or place read from a vector file");
  AreaName = new ElidedLabel(kNoArea, Panel2);
  AreaName->setGeometry(102, 230, 80, 15);
  AreaClearButton = RowButton(Panel2, QString(QChar(0x2715)), 184, 20);
  AreaClearButton->setToolTip("Download the whole rectangle again");
  AreaClearButton->setEnabled(false);
  // Room for seven digits: buffers run up to 100,000 m, with decimals.
  LabelBuffer = qm::PlaceLabel(Panel2, "Buffer m:", 208, 230);
  EditBuffer = qm::PlaceEdit(Panel2, 254, 227, 56, 21, "0");
  EditBuffer->setToolTip(kBufferTip);
  bufferPause_ = new QTimer(this);
  bufferPause_->setSingleShot(true);
  bufferPause_->setInterval(kBufferPauseMs);
  connect(EditBuffer, &QLineEdit::textEdited, bufferPause_, qOverload<>(&QTimer::start));
  connect(bufferPause_, &QTimer::timeout, this, [this] { ApplyBuffer(false); });
  PickAreaFile = [this] {
    return QFileDialog::getOpenFileName(this, "Area from file", Edit6->text(), kVectorFiles);
  };
}

void TForm1::AreaFromFileClick() {
  qm::RunGuarded([this] {
    const QString file = PickAreaFile();
    if (file.isEmpty()) return;
    const std::optional<double> buffer = qm::StrictNumberFromText(EditBuffer->text().toStdString());
    if (!buffer || *buffer < 0) {
      qm::ShowMessage(std::string("The buffer should be zero or more metres."));
      return;
    }
    ReadAreaFile(file.toStdString(), *buffer, true);
  });
}

void TForm1::BufferEdited() {
  bufferPause_->stop();
  ApplyBuffer(true);
}

// A new buffer widens the lines and points of the file in use again, and the fields and the
// estimate follow. While typing, what is wrong goes to the status bar; when the field is left, to a box.
void TForm1::ApplyBuffer(bool boxes) {
  qm::RunGuarded([this, boxes] {
    const auto& area = controller_->Area();
    if (areaFile_.empty() || !area || !area->widenable || controller_->Running() || levelSetRunning_) return;
    const std::optional<double> buffer = qm::StrictNumberFromText(EditBuffer->text().toStdString());
    if (!buffer || *buffer < 0) return SayAreaRefused("The buffer should be zero or more metres.", boxes);
    if (*buffer == area->bufferMetres) return ShowEstimate();
    ReadAreaFile(areaFile_, *buffer, boxes);
  });
}

void TForm1::SayAreaRefused(const std::string& reason, bool box) {
  if (box) return qm::ShowMessage(reason);
  StatusText->setText(QString::fromStdString(reason));
  StatusText->setToolTip(QString());
}

void TForm1::ReadAreaFile(const std::string& file, double bufferMetres, bool boxes) {
  StartInputs fields;
  std::shared_ptr<const TaskArea> area;
  try {
    area = AreaFromFile(file, bufferMetres, fields);
  } catch (const AreaRefused& e) {
    SayAreaRefused(e.what(), boxes);
    return;
  }
  Edit1->setText(QString::fromStdString(fields.LeftLongitude));
  Edit3->setText(QString::fromStdString(fields.RightLongitude));
  Edit2->setText(QString::fromStdString(fields.TopLatitude));
  Edit4->setText(QString::fromStdString(fields.BottomLatitude));
  areaFile_ = file;
  ShowArea(std::move(area));
}

void TForm1::ClearArea() {
  areaFile_.clear();
  ShowArea(nullptr);
}

// A buffer that cannot change the area in use is greyed, saying why.
void TForm1::ShowArea(std::shared_ptr<const TaskArea> area) {
  if (area) EditBuffer->setText(QString::fromStdString(qm::FormatG15(area->bufferMetres)));
  const bool bufferApplies = !area || (area->widenable && !areaFile_.empty());
  EditBuffer->setEnabled(bufferApplies);
  LabelBuffer->setEnabled(bufferApplies);
  EditBuffer->setToolTip(bufferApplies                ? kBufferTip
                         : areaFile_.empty()         ? "The area of an opened task keeps the buffer it was made with"
                                                     : "Polygons are taken as they are: the buffer widens only lines "
                                                       "and points, and this area has none");
  AreaClearButton->setEnabled(area != nullptr);
  controller_->UseArea(std::move(area));
  ShowAreaCut({});
  ShowEstimate();
}

// The row names the area in use, and says so when the edges leave some of its tiles out.
void TForm1::ShowAreaCut(const std::vector<AreaEstimate>& levels) {
  const std::shared_ptr<const TaskArea>& area = controller_->Area();
  if (!area) {
    AreaName->setText(kNoArea);
    AreaName->setToolTip(QString());
    return;
  }
  const QString name = QFileInfo(QString::fromStdString(area->source)).fileName();
  const QString source = QString::fromStdString(area->source);
  const std::optional<std::string> cut = AreaCutText(levels);
  AreaName->setText(cut ? "Cut: " + name : name);
  AreaName->setToolTip(cut ? source + ": " + QString::fromStdString(*cut) : source);
}

void TForm1::OpenProjectArea(const std::string& projectOrSetFile) {
  areaFile_.clear();
  try {
    ShowArea(AreaOfProject(projectOrSetFile));
  } catch (const AreaRefused& e) {
    ShowArea(nullptr);
    qm::ShowMessage(std::string(e.what()));
  }
}

AreaEstimateOrReason TForm1::EstimateOfFields(const StartInputs& in) const {
  AreaEstimateOrReason estimate =
      EstimateArea(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, in.Zoom);
  const auto& area = controller_->Area();
  if (!estimate.estimate || !area) return estimate;
  try {
    return {EstimateInArea(*estimate.estimate, *area, *qm::IntegerFromText(in.Zoom)), ""};
  } catch (const TaskError& e) {
    return {std::nullopt, e.what()};
  }
}
