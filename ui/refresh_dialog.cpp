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
#include <string_view>
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
constexpr int kBarSteps = 1000;

QString ChooseProjectWithDialog(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent, "Open project file:", QString(), "Projects(*.qmtp);;Level sets(*.qmset)");
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

std::string SetNameOf(const std::string& setFile) {
  const std::string name = qm::ExtractFileName(setFile);
  return name.substr(0, name.size() - std::string_view(".qmset").size());
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
  ProgressBar->setRange(0, kBarSteps);
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
  const bool isSet = file.ends_with(".qmset");
  try {
    // A set is held while its levels are refreshed, each level by its own run.
    if (isSet) setLock_ = qm::RunLock::Take(file);
    settings_ = ReadRefreshSettings(qm::ConfigFilePath(programFolder_), "");
  } catch (const std::exception& e) {
    return Finish(Text(qm::ErrorBoxText(e.what())));
  }
  settings_.olderThanDays = OlderCheck->isChecked() ? std::optional<int>(DaysSpin->value()) : std::nullopt;
  settings_.pauses = pauses_;
  settings_.blankPath = programFolder_ + "blankimg" + qm::kPathSeparator + "blank.jpg";
  stopped_ = false;
  report_ = {};
  runError_.clear();
  SummaryMemo->clear();
  setName_ = isSet ? SetNameOf(file) : "";
  record_.emplace(isSet ? file : "", settings_.olderThanDays);
  OpenLevels(std::get<std::vector<std::string>>(projects));
  if (levels_.empty()) return EndRun(totals_.skipped > 0);
  StartNextLevel();
  StartButton->setEnabled(false);
  StopButton->setEnabled(true);
  timer_->start();
}

// Opens the run of every level to refresh, so that the bar covers them all from the start; the
// levels a stopped refresh of the set finished are skipped, and those that cannot be refreshed
// are said.
void RefreshDialog::OpenLevels(const std::vector<std::string>& projects) {
  levels_.clear();
  totals_ = {};
  levelCount_ = setName_.empty() ? 0 : static_cast<int>(projects.size());
  int number = 0;
  for (const std::string& project : projects) {
    ++number;
    if (record_->Finished(project)) {
      SummaryMemo->appendPlainText(Text(qm::ExtractFileName(project) + ": refreshed before this run"));
      ++totals_.skipped;
      continue;
    }
    try {
      auto run = std::make_unique<RefreshRun>(project, settings_);
      totals_.tiles += run->Tiles();
      levels_.push_back({number, project, std::move(run)});
    } catch (const std::exception& e) {  // no tiles to refresh, a folder that cannot be read, a held project
      SummaryMemo->appendPlainText(Text(e.what()));
      StatusLabel->setText(Text(e.what()));
    }
  }
}

bool RefreshDialog::StartNextLevel() {
  if (levels_.empty()) return false;
  current_ = std::move(levels_.front());
  levels_.erase(levels_.begin());
  ++totals_.levels;
  runDone_.store(false);
  runError_.clear();
  ShowProgress({});
  RefreshRun* run = current_.run.get();
  thread_ = std::thread([this, run] {
    try {
      report_ = run->Run();
    } catch (const std::exception& e) {
      runError_ = e.what();
    }
    runDone_.store(true);
  });
  return true;
}

void RefreshDialog::Poll() {
  if (!Running()) return;
  if (runDone_.load()) return LevelEnded();
  ShowProgress(current_.run->Counts());
}

// One bar over every level of the run; the counts are the set's so far.
void RefreshDialog::ShowProgress(const RefreshCounts& current) {
  const RefreshCounts counts = totals_.counts + current;
  const int64_t tiles = std::max<int64_t>(totals_.tiles, 1);
  ProgressBar->setValue(static_cast<int>(std::min<int64_t>(counts.Done(), tiles) * kBarSteps / tiles));
  const std::string what = levelCount_ > 0 ? RefreshLevelText(current_.number, levelCount_, current_.run->Zoom())
                                           : "Refreshing " + current_.run->Name() + ": ";
  StatusLabel->setText(Text(what + GroupedCount(counts.Done()) + " of " + GroupedCount(totals_.tiles) +
                            " tiles · unchanged " + GroupedCount(counts.unchanged) + " · changed " +
                            GroupedCount(counts.changed) + " · kept " + GroupedCount(counts.kept) + " · failed " +
                            GroupedCount(counts.failed)));
}

void RefreshDialog::LevelEnded() {
  thread_.join();
  current_.run.reset();
  const bool complete = runError_.empty() && report_.end == RefreshEnd::kComplete;
  if (runError_.empty()) totals_.counts = totals_.counts + report_.counts;
  SummaryMemo->appendPlainText(Text(runError_.empty() ? RefreshSummaryText(report_) : qm::ErrorBoxText(runError_)));
  try {
    if (complete) record_->Finish(current_.project);
  } catch (const std::exception& e) {
    runError_ = e.what();
    SummaryMemo->appendPlainText(Text(qm::ErrorBoxText(e.what())));
  }
  // A level set goes on with its next level unless this one was stopped or could not go on.
  if (complete && runError_.empty() && !stopped_ && StartNextLevel()) return;
  EndRun(complete && runError_.empty() && !stopped_);
}

// walkedEveryLevel: no level is left for a later refresh, so the set's record begins anew.
void RefreshDialog::EndRun(bool walkedEveryLevel) {
  timer_->stop();
  levels_.clear();  // lets go of the levels not reached
  totals_.complete = walkedEveryLevel;
  try {
    if (walkedEveryLevel) record_->Clear();
  } catch (const std::exception& e) {
    runError_ = e.what();
  }
  if (totals_.levels + totals_.skipped == 0) return Finish(StatusLabel->text());  // every level refused
  if (levelCount_ > 0) SummaryMemo->appendPlainText(Text(SetRefreshSummaryText(setName_, totals_)));
  if (walkedEveryLevel) ProgressBar->setValue(kBarSteps);
  Finish(EndText());
  emit RunEnded();
}

QString RefreshDialog::EndText() const {
  if (!runError_.empty() || report_.end == RefreshEnd::kFileError) return "The refresh ended: a file could not be written.";
  if (stopped_) return "Refresh stopped: Start with the same age continues it.";
  if (report_.end == RefreshEnd::kWorkerEnded) return "The refresh ended early: the server refused us or the network failed.";
  if (totals_.counts.failed > 0) return "Refresh done. Tools → Re-Download failed images fetches the failed tiles again.";
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
  if (Running()) current_.run->Stop();
  StopButton->setEnabled(false);
}

void RefreshDialog::AbortAndWait() {
  if (Running()) current_.run->Abort();
  if (thread_.joinable()) thread_.join();
  current_.run.reset();
  levels_.clear();
  setLock_.Release();
  timer_->stop();
}

void RefreshDialog::reject() {
  AbortAndWait();
  StartButton->setEnabled(true);
  StopButton->setEnabled(false);
  QDialog::reject();
}
