// The "Refresh tiles" window: a project or level set, an optional age, Start and Stop, progress,
// and the summary of each project refreshed. The run itself is the core's RefreshRun, on a thread
// of its own; the window only starts, stops and watches it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QDialog>

#include "download/pauses.h"
#include "download/refresh_run.h"
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
  bool Running() const { return run_ != nullptr; }

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
  // Every project of the run has ended; the summaries are shown.
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
  bool StartNextProject();
  void Poll();
  void ProjectEnded();
  QString EndText() const;
  void Finish(const QString& status);
  void AbortAndWait();

  const std::string programFolder_;
  const DownloadPauses pauses_;
  FileChooser chooseProject_;
  std::string busyProject_;
  RefreshSettings settings_;
  std::vector<std::string> projects_;  // still to refresh
  qm::RunLock setLock_;  // a level set's, while its levels are refreshed
  std::unique_ptr<RefreshRun> run_;
  std::thread thread_;
  std::atomic<bool> runDone_{false};
  RefreshReport report_;
  std::string runError_;
  bool stopped_ = false;
  QTimer* timer_;
};
