// "Area from file...": a shape from a vector file narrows the download to its tiles. The fields
// take the shape's bounding box; the controller takes the area; the row under the fields names it.
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

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
  AreaName->setGeometry(102, 230, 98, 15);
  AreaClearButton = RowButton(Panel2, QString(QChar(0x2715)), 202, 20);
  AreaClearButton->setToolTip("Download the whole rectangle again");
  AreaClearButton->setEnabled(false);
  LabelBuffer = qm::PlaceLabel(Panel2, "Buffer m:", 228, 230);
  EditBuffer = qm::PlaceEdit(Panel2, 276, 227, 34, 21, "0");
  EditBuffer->setToolTip("Metres on the ground by which the shape's lines and points are widened");
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
    ReadAreaFile(file.toStdString(), *buffer);
  });
}

// A new buffer widens the lines and points of the file in use again.
void TForm1::BufferEdited() {
  qm::RunGuarded([this] {
    if (areaFile_.empty() || controller_->Running() || levelSetRunning_) return;
    const std::optional<double> buffer = qm::StrictNumberFromText(EditBuffer->text().toStdString());
    const auto& area = controller_->Area();
    if (!buffer || *buffer < 0 || !area || *buffer == area->bufferMetres) return;
    ReadAreaFile(areaFile_, *buffer);
  });
}

void TForm1::ReadAreaFile(const std::string& file, double bufferMetres) {
  StartInputs fields;
  std::shared_ptr<const TaskArea> area;
  try {
    area = AreaFromFile(file, bufferMetres, fields);
  } catch (const AreaRefused& e) {
    qm::ShowMessage(std::string(e.what()));
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

void TForm1::ShowArea(std::shared_ptr<const TaskArea> area) {
  if (area) {
    AreaName->setText(QFileInfo(QString::fromStdString(area->source)).fileName());
    AreaName->setToolTip(QString::fromStdString(area->source));
    EditBuffer->setText(QString::fromStdString(qm::FormatG15(area->bufferMetres)));
  } else {
    AreaName->setText(kNoArea);
    AreaName->setToolTip(QString());
  }
  AreaClearButton->setEnabled(area != nullptr);
  controller_->UseArea(std::move(area));
  ShowEstimate();
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
