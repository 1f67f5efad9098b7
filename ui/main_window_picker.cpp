// "Pick on map...": the area picker started from the fields, its result written back into them.
#include <QLineEdit>

#include "engine/fetch_settings.h"
#include "mapview/tile_disk_cache.h"
#include "mapview/web_tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "ui/Unit1.h"
#include "ui/area_picker_dialog.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

// The picker draws the shape in use and tints its tiles; a shape whose outline cannot be read is
// drawn as its tiles alone.
void TForm1::ShowAreaOnPicker(AreaPickerDialog& dialog) {
  const std::shared_ptr<const TaskArea>& area = controller_->Area();
  std::vector<AreaRing> outline;
  if (area) {
    try {
      outline = area->outline();
    } catch (const TaskError&) {
    }
  }
  dialog.SetArea(area, outline);
}

// The picker starts from the fields as they are, with both zoom levels; OK writes its rectangle into
// them as typed texts, and the zooms, and touches nothing else.
void TForm1::PickOnMapClick() {
  qm::RunGuarded([this] {
    const std::string configFile = qm::ConfigFilePath(programFolder_);
    AreaPickerInputs inputs;
    inputs.settings = ReadFetchSettings(configFile);
    const std::string lastProject = qm::IniFile(configFile).ReadString("IniParas", "LastProject", "");
    inputs.projects = mapview::FindProjects(Edit6->text().toStdString(), {lastProject});
    const std::string blankFile = programFolder_ + "blankimg" + qm::kPathSeparator + "blank.jpg";
    if (qm::FileExists(blankFile)) inputs.blankBytes = qm::ReadWholeFile(blankFile);
    inputs.cacheFolder = mapview::TileCacheFolder(inputs.settings.tileServer);
    const StartInputs in = ReadInputs();
    inputs.fields = {in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, in.Zoom};
    inputs.zoomTo = EditZoomTo->text().toStdString();
    AreaPickerDialog dialog(std::move(inputs), this);
    ShowAreaOnPicker(dialog);
    if (RunAreaPicker(dialog) != QDialog::Accepted) return;
    const std::optional<AreaTexts> texts = dialog.Texts();
    if (!texts) return;
    Edit1->setText(QString::fromStdString(texts->left));
    Edit3->setText(QString::fromStdString(texts->right));
    Edit2->setText(QString::fromStdString(texts->top));
    Edit4->setText(QString::fromStdString(texts->bottom));
    // The first level moves the last one while they are equal; the last is set after it.
    const ZoomRange zooms = dialog.Zooms();
    UpDown1->SetPosition(zooms.first);
    UpDownTo->SetPosition(zooms.last);
    ShowEstimate();
  });
}
