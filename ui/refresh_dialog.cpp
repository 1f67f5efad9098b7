// The "Refresh tiles" window: its controls, and the run watched from a timer.
#include "ui/refresh_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <variant>

#include "engine/area_input.h"
#include "engine/level_set.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "ui/form_widgets.h"

namespace {

constexpr int kWidth = 560;
constexpr int kHeight = 330;
constexpr int kPollMs = 250;

QString ChooseProjectWithDialog(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent, "Open project file:", QString(), "Projects(*.qmtp);;Level sets(*.qmset)");
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString ProgressText(const std::string& name, const RefreshCounts& c, int64_t tiles) {
  return Text("Refreshing " + name + ": " + GroupedCount(c.Done()) + " of " + GroupedCount(tiles) + " tiles · unchanged " +
              GroupedCount(c.unchanged) + " · changed " + GroupedCount(c.changed) + " · kept " +
              GroupedCount(c.kept) + " · failed " + GroupedCount(c.failed));
}

}  // namespace

RefreshDialog::RefreshDialog(std::string programFolder, DownloadPauses pauses, QWidget* parent)
    : QDialog(parent),
      programFolder_(qm::WithTrailingSeparator(programFolder)),
      pauses_(pauses),
      chooseProject_(ChooseProjectWithDialog) {
  qm::SetUpFixedDialog(this, "Refresh tiles", kWidth, kHeight);
  BuildControls();
  timer_ = new QTimer(this);
  timer_->setInterval(kPollMs);
  connect(timer_, &QTimer::timeout, this, &RefreshDialog::Poll);
  connect(BrowseButton, &QPushButton::clicked, this, &RefreshDialog::BrowseClick);
  connect(StartButton, &QPushButton::clicked, this, &RefreshDialog::StartClick);
  connect(StopButton, &QPushButton::clicked, this, &RefreshDialog::StopClick);
  connect(OlderCheck, &QCheckBox::toggled, DaysSpin, &QSpinBox::setEnabled);
}

RefreshDialog::~RefreshDialog() { AbortAndWait(); }

void RefreshDialog::BuildControls() {
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Project or level set:", this), 0, 0);
  ProjectEdit = new QLineEdit(this);
  grid->addWidget(ProjectEdit, 0, 1, 1, 3);
  BrowseButton = new QPushButton("...", this);
  BrowseButton->setFixedWidth(30);
  grid->addWidget(BrowseButton, 0, 4);

  OlderCheck = new QCheckBox("Only tiles older than", this);
  DaysSpin = new QSpinBox(this);
  DaysSpin->setRange(0, 36500);
  DaysSpin->setValue(30);
  DaysSpin->setEnabled(false);
  grid->addWidget(OlderCheck, 1, 0);
  auto* days = new QHBoxLayout;
  days->addWidget(DaysSpin);
  days->addWidget(new QLabel("days", this));
  days->addStretch(1);
  grid->addLayout(days, 1, 1, 1, 2);

  StartButton = new QPushButton("Start", this);
  StopButton = new QPushButton("Stop", this);
  StopButton->setEnabled(false);
  grid->addWidget(StartButton, 1, 3);
  grid->addWidget(StopButton, 1, 4);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setRange(0, 1);
  ProgressBar->setValue(0);
  grid->addWidget(ProgressBar, 2, 0, 1, 5);
  StatusLabel = new QLabel("Asks the server again for the stored tiles and replaces those it has changed.", this);
  StatusLabel->setWordWrap(true);
  grid->addWidget(StatusLabel, 3, 0, 1, 5);
  SummaryMemo = new QPlainTextEdit(this);
  SummaryMemo->setReadOnly(true);
  grid->addWidget(SummaryMemo, 4, 0, 1, 5);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(4, 1);
}

void RefreshDialog::SetProject(const QString& file) { ProjectEdit->setText(file); }

void RefreshDialog::BrowseClick() {
  const QString file = chooseProject_(this);
  if (!file.isEmpty()) ProjectEdit->setText(file);
}

void RefreshDialog::StartClick() {
  if (Running()) return;
  const std::string file = ProjectEdit->text().trimmed().toStdString();
  if (file.empty()) return Finish("Choose a project (.qmtp) or a level set (.qmset) to refresh.");
  if (!busyProject_.empty() && file == busyProject_) {
    return Finish("The download of this project is running; refresh it once the download has ended.");
  }
  const auto projects = ProjectFilesOf(file);
  if (const auto* reason = std::get_if<std::string>(&projects)) return Finish(Text(*reason));
  try {
    // A set is held while its levels are refreshed, each level by its own run.
    if (file.ends_with(".qmset")) setLock_ = qm::RunLock::Take(file);
  } catch (const std::exception& e) {
    return Finish(Text(qm::ErrorBoxText(e.what())));
  }
  try {
    settings_ = ReadRefreshSettings(qm::ConfigFilePath(programFolder_), "");
  } catch (const std::exception& e) {
    return Finish(Text(e.what()));
  }
  settings_.olderThanDays = OlderCheck->isChecked() ? std::optional<int>(DaysSpin->value()) : std::nullopt;
  settings_.pauses = pauses_;
  settings_.blankPath = programFolder_ + "blankimg" + qm::kPathSeparator + "blank.jpg";
  projects_ = std::get<std::vector<std::string>>(projects);
  stopped_ = false;
  SummaryMemo->clear();
  if (!StartNextProject()) return Finish(StatusLabel->text());
  StartButton->setEnabled(false);
  StopButton->setEnabled(true);
  timer_->start();
}

// Starts the first project of those left that can be refreshed, saying why the others cannot.
bool RefreshDialog::StartNextProject() {
  while (!projects_.empty()) {
    const std::string project = projects_.front();
    projects_.erase(projects_.begin());
    try {
      run_ = std::make_unique<RefreshRun>(project, settings_);
    } catch (const std::exception& e) {  // no tiles to refresh, or a folder that cannot be read
      SummaryMemo->appendPlainText(Text(e.what()));
      StatusLabel->setText(Text(e.what()));
      continue;
    }
    ProgressBar->setRange(0, static_cast<int>(std::clamp<int64_t>(run_->Tiles(), 1, INT32_MAX)));
    ProgressBar->setValue(0);
    runDone_.store(false);
    runError_.clear();
    thread_ = std::thread([this] {
      try {
        report_ = run_->Run();
      } catch (const std::exception& e) {
        runError_ = e.what();
      }
      runDone_.store(true);
    });
    return true;
  }
  return false;
}

void RefreshDialog::Poll() {
  if (!run_) return;
  const RefreshCounts counts = run_->Counts();
  ProgressBar->setValue(static_cast<int>(std::min<int64_t>(counts.Done(), ProgressBar->maximum())));
  if (!runDone_.load()) {
    StatusLabel->setText(ProgressText(run_->Name(), counts, run_->Tiles()));
    return;
  }
  ProjectEnded();
}

void RefreshDialog::ProjectEnded() {
  thread_.join();
  run_.reset();
  if (runError_.empty() && report_.end == RefreshEnd::kComplete) ProgressBar->setValue(ProgressBar->maximum());
  SummaryMemo->appendPlainText(Text(runError_.empty() ? RefreshSummaryText(report_) : qm::ErrorBoxText(runError_)));
  // A level set goes on with its next level unless this one was stopped or could not go on.
  const bool goOn = runError_.empty() && !stopped_ && (report_.end == RefreshEnd::kComplete);
  if (goOn && StartNextProject()) return;
  timer_->stop();
  Finish(EndText());
  emit RunEnded();
}

QString RefreshDialog::EndText() const {
  if (!runError_.empty() || report_.end == RefreshEnd::kFileError) return "The refresh ended: a file could not be written.";
  if (stopped_) return "Refresh stopped: Start with the same age continues it.";
  if (report_.end == RefreshEnd::kWorkerEnded) return "The refresh ended early: the server refused us or the network failed.";
  if (report_.counts.failed > 0) return "Refresh done. Tools → Re-Download failed images fetches the failed tiles again.";
  return "Refresh done.";
}

void RefreshDialog::Finish(const QString& status) {
  setLock_.Release();
  StatusLabel->setText(status);
  StartButton->setEnabled(true);
  StopButton->setEnabled(false);
}

void RefreshDialog::StopClick() {
  stopped_ = true;
  if (run_) run_->Stop();
  StopButton->setEnabled(false);
}

void RefreshDialog::AbortAndWait() {
  if (run_) run_->Abort();
  if (thread_.joinable()) thread_.join();
  run_.reset();
  setLock_.Release();
  timer_->stop();
}

void RefreshDialog::reject() {
  AbortAndWait();
  StartButton->setEnabled(true);
  StopButton->setEnabled(false);
  QDialog::reject();
}
