// The window runs the mosaic on a thread of its own; progress and the end come back queued.
#include "companions/mapcombiner_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "platform/ini_file.h"

namespace {

struct FormatChoice {
  const char* label;
  const char* name;
  const char* extension;
};
constexpr FormatChoice kFormats[] = {{"GeoTIFF (tiled, compressed)", "gtiff", ".tif"},
                                     {"GDAL virtual mosaic (VRT)", "vrt", ".vrt"},
                                     {"MBTiles package", "mbtiles", ".mbtiles"},
                                     {"PNG with world file", "png", ".png"},
                                     {"JPEG with world file", "jpeg", ".jpg"}};

QString DefaultOutput(const QString& project, const char* extension) {
  const QFileInfo info(project);
  return info.path() + "/" + info.completeBaseName() + extension;
}

QHBoxLayout* WithButton(QLineEdit* edit, QPushButton* button) {
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(button);
  return row;
}

}  // namespace

MapCombinerWindow::MapCombinerWindow(const std::string& programFolder, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder) {
  setWindowTitle("Map Combiner");
  BuildControls();
  const qm::IniFile config(qm::ConfigFilePath(programFolder_));
  ProjectEdit->setText(QString::fromStdString(config.ReadString("IniParas", "LastProject", "")));
  FormatChosen();
}

MapCombinerWindow::~MapCombinerWindow() {
  cancel_ = true;
  WaitForRun();
}

void MapCombinerWindow::BuildControls() {
  ProjectEdit = new QLineEdit;
  OutputEdit = new QLineEdit;
  FormatBox = new QComboBox;
  for (const FormatChoice& f : kFormats) FormatBox->addItem(f.label);
  FillEdit = new QLineEdit("transparent");
  FillEdit->setToolTip("transparent, or a colour as #RRGGBB, for missing tiles");
  auto* pickProject = new QPushButton("...");
  auto* pickOutput = new QPushButton("...");
  Progress = new QProgressBar;
  Progress->setRange(0, 1000);
  CombineButton = new QPushButton("Combine");
  CombineButton->setDefault(true);
  OpenFolderButton = new QPushButton("Open folder");
  OpenFolderButton->setEnabled(false);
  ResultLabel = new QLabel("Choose a downloaded project and where the map goes.");
  ResultLabel->setWordWrap(true);

  auto* form = new QFormLayout;
  form->addRow("Project:", WithButton(ProjectEdit, pickProject));
  form->addRow("Output:", WithButton(OutputEdit, pickOutput));
  form->addRow("Format:", FormatBox);
  form->addRow("Fill:", FillEdit);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OpenFolderButton);
  buttons->addWidget(CombineButton);
  auto* column = new QVBoxLayout(this);
  column->addLayout(form);
  column->addWidget(Progress);
  column->addWidget(ResultLabel);
  column->addLayout(buttons);
  resize(520, sizeHint().height());

  connect(pickProject, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, "Open project", ProjectEdit->text(), "Project (*.qmtp)");
    if (file.isEmpty()) return;
    ProjectEdit->setText(file);
    FormatChosen();
  });
  connect(pickOutput, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getSaveFileName(this, "Save map as", OutputEdit->text());
    if (!file.isEmpty()) OutputEdit->setText(file);
  });
  connect(FormatBox, &QComboBox::currentIndexChanged, this, [this] { FormatChosen(); });
  connect(CombineButton, &QPushButton::clicked, this, &MapCombinerWindow::Combine);
  connect(OpenFolderButton, &QPushButton::clicked, this, [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(OutputEdit->text()).path()));
  });
}

// The output follows the project and the format until the user names it otherwise.
void MapCombinerWindow::FormatChosen() {
  if (ProjectEdit->text().isEmpty()) return;
  OutputEdit->setText(DefaultOutput(ProjectEdit->text(), kFormats[FormatBox->currentIndex()].extension));
}

void MapCombinerWindow::Combine() {
  if (running_) {
    cancel_ = true;
    return;
  }
  MosaicOptions options;
  options.format = *MosaicFormatNamed(kFormats[FormatBox->currentIndex()].name);
  options.blankTileFile = programFolder_ + "blankimg" + qm::kPathSeparator + "blank.jpg";
  if (!ParseFill(FillEdit->text().toStdString(), options)) {
    ResultLabel->setText("Fill takes transparent or a colour as #RRGGBB.");
    return;
  }
  WaitForRun();
  running_ = true;
  cancel_ = false;
  CombineButton->setText("Cancel");
  OpenFolderButton->setEnabled(false);
  Progress->setValue(0);
  ResultLabel->setText("Combining...");
  const std::string project = ProjectEdit->text().toStdString(), output = OutputEdit->text().toStdString();
  run_ = std::thread([this, project, output, options] {
    QString text;
    bool ok = false;
    try {
      const MosaicReport r = WriteMosaic(ReadMosaicSource(project), output, options, [this](int64_t done, int64_t total) {
        QMetaObject::invokeMethod(this, [this, done, total] { Progress->setValue(static_cast<int>(done * 1000 / total)); },
                                  Qt::QueuedConnection);
        return !cancel_.load();
      });
      text = QString("Done: %1 tiles, %2 filled (missing %3, blank %4, not an image %5).%6")
                 .arg(r.tiles).arg(r.Filled()).arg(r.missing).arg(r.blank).arg(r.undecodable)
                 .arg(r.missingList.empty() ? QString() : " Listed in " + QString::fromStdString(r.missingList) + ".");
      ok = true;
    } catch (const std::exception& e) {
      text = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, text, ok] { RunFinished(text, ok); }, Qt::QueuedConnection);
  });
}

void MapCombinerWindow::RunFinished(const QString& text, bool ok) {
  WaitForRun();
  running_ = false;
  CombineButton->setText("Combine");
  ResultLabel->setText(text);
  OpenFolderButton->setEnabled(ok);
  if (ok) Progress->setValue(1000);
}

void MapCombinerWindow::WaitForRun() {
  if (run_.joinable()) run_.join();
}

void MapCombinerWindow::closeEvent(QCloseEvent* event) {
  cancel_ = true;
  WaitForRun();
  event->accept();
}
