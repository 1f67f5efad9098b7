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
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include "mosaic/output_check.h"
#include "mosaic/partial_file.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/program_layout.h"

namespace {

struct FormatChoice {
  const char* label;
  const char* name;
  const char* extension;
};
constexpr FormatChoice kFormats[] = {{"GeoTIFF with overviews (tiled, compressed)", "gtiff", ".tif"},
                                     {"Cloud Optimized GeoTIFF", "cog", ".tif"},
                                     {"GDAL virtual mosaic (VRT)", "vrt", ".vrt"},
                                     {"MBTiles package (every level)", "mbtiles", ".mbtiles"},
                                     {"GeoPackage tiles (every level)", "gpkg", ".gpkg"},
                                     {"SQLiteDB for mobile map programs (every level)", "sqlitedb", ".sqlitedb"},
                                     {"PNG with world file", "png", ".png"},
                                     {"JPEG with world file", "jpeg", ".jpg"}};
constexpr const char* kCompressions[] = {"deflate", "jpeg", "webp"};

const QString kHint = "Choose a downloaded project or level set and where the map goes.";

QString DefaultOutput(const QString& project, const char* extension) {
  const QFileInfo info(project);
  return info.path() + "/" + info.completeBaseName() + extension;
}

// A long path in a wrapped label breaks after its separators, not inside a name.
QString Breakable(const QString& text) {
  QString out = text;
  return out.replace('/', QStringLiteral("/\u200B"));
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
  LowerZoomBox = new QSpinBox;
  LowerZoomBox->setRange(-1, 30);
  LowerZoomBox->setSpecialValueText("none");
  LowerZoomBox->setValue(-1);
  LowerZoomBox->setToolTip("Levels from this zoom up to the coarsest downloaded one, each tile made from the four "
                           "below it, without a request");
  CompressionBox = new QComboBox;
  CompressionBox->addItems({"Deflate (lossless)", "JPEG (YCbCr, for imagery)", "WebP"});
  auto* pickProject = new QPushButton("...");
  auto* pickOutput = new QPushButton("...");
  Progress = new QProgressBar;
  Progress->setRange(0, 1000);
  CombineButton = new QPushButton("Combine");
  CombineButton->setDefault(true);
  OpenFolderButton = new QPushButton("Open folder");
  OpenFolderButton->setEnabled(false);
  ResultLabel = new QLabel(kHint);
  ResultLabel->setWordWrap(true);
  ResultLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Room for a result of a few lines, so the buttons below never leave the window.
  ResultLabel->setMinimumHeight(4 * ResultLabel->fontMetrics().lineSpacing());

  auto* form = new QFormLayout;
  form->addRow("Project:", WithButton(ProjectEdit, pickProject));
  form->addRow("Output:", WithButton(OutputEdit, pickOutput));
  form->addRow("Format:", FormatBox);
  form->addRow("Lower levels from zoom:", LowerZoomBox);
  form->addRow("Compression:", CompressionBox);
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
  setMinimumWidth(420);
  resize(560, sizeHint().height());

  connect(pickProject, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, "Open project", ProjectEdit->text(),
                                                      "Project or level set (*.qmtp *.qmset)");
    if (!file.isEmpty()) ProjectEdit->setText(file);
  });
  connect(pickOutput, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getSaveFileName(this, "Save map as", OutputEdit->text());
    if (file.isEmpty()) return;
    OutputEdit->setText(file);
    outputNamed_ = true;
  });
  connect(ProjectEdit, &QLineEdit::textChanged, this, [this] { ProjectChosen(); });
  connect(OutputEdit, &QLineEdit::textEdited, this, [this] {
    outputNamed_ = true;
    ForgetResult();
  });
  connect(FormatBox, &QComboBox::currentIndexChanged, this, [this] { FormatChosen(); });
  connect(LowerZoomBox, &QSpinBox::valueChanged, this, [this] { ForgetResult(); });
  connect(CompressionBox, &QComboBox::currentIndexChanged, this, [this] { ForgetResult(); });
  ShowFormatChoices();
  connect(CombineButton, &QPushButton::clicked, this, &MapCombinerWindow::Combine);
  connect(OpenFolderButton, &QPushButton::clicked, this, [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(OutputEdit->text()).path()));
  });
}

// The output follows the project and the format until the user names it; a named output still
// takes the extension of a new format when it has a format's extension.
void MapCombinerWindow::ProjectChosen() {
  if (!outputNamed_) {
    OutputEdit->setText(ProjectEdit->text().isEmpty()
                            ? QString()
                            : DefaultOutput(ProjectEdit->text(), kFormats[FormatBox->currentIndex()].extension));
  }
  ForgetResult();
}

// The lower levels belong to tile packages, the compression to GeoTIFFs.
void MapCombinerWindow::ShowFormatChoices() {
  const MosaicFormat format = *MosaicFormatNamed(kFormats[FormatBox->currentIndex()].name);
  LowerZoomBox->setEnabled(IsTilePackage(format));
  CompressionBox->setEnabled(format == MosaicFormat::kGTiff || format == MosaicFormat::kCog);
}

void MapCombinerWindow::FormatChosen() {
  ShowFormatChoices();
  const QString after = kFormats[FormatBox->currentIndex()].extension;
  shownFormat_ = FormatBox->currentIndex();
  if (!outputNamed_) {
    ProjectChosen();
    return;
  }
  // A named output ending as any format's file would (the one chosen before, or one typed for
  // another) takes the new format's extension: a VRT never lands in a file named .tif.
  const QString output = OutputEdit->text();
  for (const FormatChoice& choice : kFormats) {
    const QString known = choice.extension;
    if (!output.endsWith(known, Qt::CaseInsensitive)) continue;
    OutputEdit->setText(output.left(output.size() - known.size()) + after);
    break;
  }
  ForgetResult();
}

// A result stays only as long as it is the result of what the fields show.
void MapCombinerWindow::ForgetResult() {
  if (running_) return;
  Progress->setValue(0);
  ResultLabel->setText(kHint);
  ResultLabel->setToolTip(QString());
  OpenFolderButton->setEnabled(false);
}

void MapCombinerWindow::Combine() {
  if (running_) {
    cancel_ = true;
    return;
  }
  MosaicOptions options;
  options.format = *MosaicFormatNamed(kFormats[FormatBox->currentIndex()].name);
  options.lowerZoom = LowerZoomBox->value();
  options.compression = *TiffCompressionNamed(kCompressions[CompressionBox->currentIndex()]);
  options.blankTileFile = programFolder_ + "blankimg" + qm::kPathSeparator + "blank.jpg";
  if (!ParseFill(FillEdit->text().toStdString(), options)) {
    ResultLabel->setText("Fill takes transparent or a colour as #RRGGBB.");
    return;
  }
  if (OutputEdit->text().isEmpty()) {
    ResultLabel->setText("Choose where the map goes.");
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
      const MosaicLevels levels = ReadMosaicLevels(project);
      CheckMosaicOutput(levels, output, options);
      for (const LeftoverPartial& leftover : ClearLeftoverPartials(qm::ExtractFilePath(output))) {
        text += QString::fromStdString(LeftoverText(leftover)) + "\n";
      }
      int shown = 0;
      const MosaicReport r = WriteMosaic(levels, output, options, [this, &shown](int64_t done, int64_t total) {
        // Only a change of the bar is sent, so the window's queue stays short however many tiles.
        const int value = static_cast<int>(done * 1000 / total);
        if (value != shown) {
          shown = value;
          QMetaObject::invokeMethod(this, [this, value] { Progress->setValue(value); }, Qt::QueuedConnection);
        }
        return !cancel_.load();
      });
      text += "Done: " + QString::fromStdString(MosaicSummaryText(r)) +
              (r.missingList.empty() ? QString() : " Listed in " + QString::fromStdString(r.missingList) + ".");
      ok = true;
    } catch (const std::exception& e) {
      text += QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, text, ok] { RunFinished(text, ok); }, Qt::QueuedConnection);
  });
}

void MapCombinerWindow::RunFinished(const QString& text, bool ok) {
  WaitForRun();
  running_ = false;
  CombineButton->setText("Combine");
  ResultLabel->setText(Breakable(text));
  ResultLabel->setToolTip(text);
  OpenFolderButton->setEnabled(ok);
  Progress->setValue(ok ? 1000 : 0);
}

void MapCombinerWindow::WaitForRun() {
  if (run_.joinable()) run_.join();
}

void MapCombinerWindow::closeEvent(QCloseEvent* event) {
  cancel_ = true;
  WaitForRun();
  event->accept();
}
