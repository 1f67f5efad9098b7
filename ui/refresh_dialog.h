// The "Refresh tiles" window: a project or level set, an optional age, Start and Stop, one
// progress bar over every level to refresh, and the summary of each level and of the set. Each
// level's run is the core's RefreshRun, on a thread of its own; the window only starts, stops and
// watches them. Levels a stopped refresh of the set has finished are not asked again.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QDialog>

#include "download/pauses.h"
#include "download/refresh_run.h"
#include "download/set_refresh.h"
#include "platform/run_lock.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

class RefreshDialog : public QDialog {
  Q_OBJECT

 public:
  using FileChooser = std::function<QString(QWidget* parent)>;

  // programFolder holds ini/config.ini and blankimg/.
  explicit RefreshDialog(std::string programFolder, DownloadPauses pauses = {}, QWidget* parent = nullptr);
  ~RefreshDialog() override;

  void SetProject(const QString& file);
  void SetProjectChooser(FileChooser chooser) { chooseProject_ = std::move(chooser); }
  // A project whose download runs in the main window is not refreshed at the same time.
  void SetBusyProject(std::string project) { busyProject_ = std::move(project); }
  bool Running() const { return current_.run != nullptr; }

  QLineEdit* ProjectEdit;
  QPushButton* BrowseButton;
  QCheckBox* OlderCheck;
  QSpinBox* DaysSpin;
  QPushButton* StartButton;
  QPushButton* StopButton;
  QProgressBar* ProgressBar;
  QLabel* StatusLabel;
  QPlainTextEdit* SummaryMemo;

 signals:
  // Every level of the run has ended; the summaries are shown.
  void RunEnded();

 public slots:
  void StartClick();
  void StopClick();

 protected:
  // A running refresh is aborted and waited for before the window closes.
  void reject() override;

 private:
  void BuildControls();
  void BrowseClick();
  void OpenLevels(const std::vector<std::string>& projects);
  bool StartNextLevel();
  void Poll();
  void ShowProgress(const RefreshCounts& current);
  void LevelEnded();
  void EndRun(bool walkedEveryLevel);
  QString EndText() const;
  void Finish(const QString& status);
  void AbortAndWait();

  const std::string programFolder_;
  const DownloadPauses pauses_;
  FileChooser chooseProject_;
  std::string busyProject_;
  RefreshSettings settings_;
  struct Level {
    int number = 0;  // 1 for the coarsest begun level
    std::string project;
    std::unique_ptr<RefreshRun> run;
  };
  std::vector<Level> levels_;  // still to refresh, each already holding its project
  int levelCount_ = 0;  // the set's begun levels; 0 for a project alone
  std::string setName_;
  std::optional<SetRefreshRecord> record_;
  SetRefreshTotals totals_;  // of the levels run so far; tiles of every level to run
  qm::RunLock setLock_;  // a level set's, while its levels are refreshed
  Level current_;  // the level being refreshed; no run between levels
  std::thread thread_;
  std::atomic<bool> runDone_{false};
  RefreshReport report_;
  std::string runError_;
  bool stopped_ = false;
  QTimer* timer_;
};
