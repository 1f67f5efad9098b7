// The main window: the input form, the log memo, the menu and the start-up settings.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QMainWindow>
#include <QStringList>

#include "download/controller_view.h"
#include "download/download_controller.h"
#include "download/level_set_run.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "ui/qt_ui_bridge.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class RefreshDialog;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class ListProgressDialog;
class QPushButton;
class QStatusBar;
class QTimer;
class AreaPickerDialog;

namespace qm {
class UpDown;
}

inline constexpr const char* kHomePageUrl = "https://quillmere.example.org/";
inline constexpr const char* kMailUrl = "mailto:support@quillmere.example.org";

class TForm1 : public QMainWindow, public ControllerView {
  Q_OBJECT

 public:
  // programFolder: the folder whose ini/, help/ and companion programs the window uses; the
  // program passes the executable's folder, tests a folder of their own.
  explicit TForm1(std::string programFolder = qm::DataFolder(), QWidget* parent = nullptr);

  ~TForm1() override;

  const std::string& ProgramFolder() const { return programFolder_; }
  DownloadController& Controller() { return *controller_; }
  // Tests shorten the download's pauses; only while no download runs.
  void SetDownloadPauses(const DownloadPauses& pauses);
  // The folder browser of "..." and the file dialog of "Open task ..."; tests replace them.
  // Each returns the chosen path, or an empty text when cancelled.
  std::function<QString()> PickFolder;
  std::function<QString()> PickProjectFile;
  // The file dialog of "Area from file..."; tests replace it.
  std::function<QString()> PickAreaFile;
  // Opens a file, program or URL with the desktop's default handler; tests replace it.
  std::function<void(const std::string&)> OpenInShell;
  // Runs the area picker and returns its QDialog result; tests replace it.
  std::function<int(AreaPickerDialog&)> RunAreaPicker;
  // Shows the refresh window (modal); tests replace it.
  std::function<void(RefreshDialog&)> RunRefreshDialog;
  // Shows the lines that are waiting for the memos now (they are added in batches).
  void FlushMemos();

  std::string HomePageUrl;
  std::string HelpFileName;
  std::string MailUrl;
  std::string ConfigFileName;
  std::string DefaultPath;
  // Started workers that have not reported their end yet (kept by the download controller).
  int32_t RunningThreads() const { return controller_->RunningThreads(); }

  // Controls, under their designer names.
  QFrame* Panel1;
  QFrame* Panel2;
  QLabel* Label16;
  QLineEdit* EditTaskName;
  QPushButton* Button4;
  QGroupBox* GroupBox4;
  QLabel* Label1;
  QLineEdit* Edit1;
  QLabel* Label2;
  QLineEdit* Edit3;
  QLabel* Label3;
  QLineEdit* Edit2;
  QLabel* Label4;
  QLineEdit* Edit4;
  QLabel* Label5;
  QLineEdit* Edit5;
  qm::UpDown* UpDown1;
  QLabel* LabelZoomTo;
  QLineEdit* EditZoomTo;  // the last level of a level set
  qm::UpDown* UpDownTo;
  QLabel* Label6;
  QLineEdit* Edit6;
  QPushButton* Button1;
  QPushButton* PickOnMapButton;
  // Only the tiles of a shape from a vector file, its lines and points widened by a buffer.
  QPushButton* AreaFileButton;
  QLabel* AreaName;
  QPushButton* AreaClearButton;
  QLabel* LabelBuffer;
  QLineEdit* EditBuffer;
  QLabel* LabelTotalxy;
  QPushButton* BitBtn1;
  QFrame* Panel3;
  QPlainTextEdit* Memo2;
  QFrame* Panel4;
  QPlainTextEdit* Memo1;
  QStatusBar* StatusBar1;
  QLabel* StatusText;
  QProgressBar* DownloadProgressBar;  // shown while a download runs
  QTimer* Timer1;

  QMenuBar* MainMenu1;
  QMenu* File1;
  QAction* Exit1;
  QMenu* Options1;
  QAction* Options2;
  QMenu* Misc1;
  QAction* ConvertLongitudeorLatitudetodegreen1;
  QAction* N2;
  QAction* Viewlogfile1;
  QMenu* Tools1;
  QAction* Mapviewer1;
  QAction* N6;
  QAction* CombineImages1;
  QAction* N5;
  QAction* ReDownloadfailedfiles1;
  QAction* RefreshTiles1;
  QMenu* Help1;
  QAction* Usermanual1;
  QAction* Homepage1;
  QAction* N1;
  QAction* About1;

 public slots:
  void FormShow();
  void BitBtn1Click();
  void Button1Click();
  void PickOnMapClick();
  void AreaFromFileClick();
  void BufferEdited();
  void ClearArea();
  void Timer1Timer();
  void LoadParametersfromprojectfilel1Click();
  void Viewlogfile1Click();
  void Exit1Click();
  void Options2Click();
  void ConvertLongitudeorLatitudetodegreen1Click();
  void Mapviewer1Click();
  void CombineImages1Click();
  void ReDownloadfailedfiles1Click();
  void RefreshTiles1Click();
  void Usermanual1Click();
  void Homepage1Click();
  void About1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildPanels();
  void BuildInputPanel();
  void BuildMemos();
  void BuildMenu();
  void BuildStatusBar();
  void ConnectHandlers();
  StartInputs ReadInputs() const;
  void ScheduleMemoFlush();
  // The status bar: the figures of a running download, the stopping workers, the summary of the
  // last download, or the estimate of the area being typed.
  void RefreshStatus();
  void ShowEstimate();
  // Level sets: a "to" zoom above the zoom downloads every level between, one after another.
  bool LevelSetWanted() const;
  void StartLevelSet(const StartInputs& inputs);
  bool ConfirmedLevelSet(const StartInputs& inputs, ZoomRange zooms);
  void LevelSetTick();
  void OpenLevelSet(const std::string& setFile);
  void ZoomChanged(int zoom);
  // Areas from a shape: the one in use goes to the controller and names itself under the fields.
  void BuildAreaRow();
  void ReadAreaFile(const std::string& file, double bufferMetres, bool boxes);
  void ApplyBuffer(bool boxes);
  void SayAreaRefused(const std::string& reason, bool box);
  void ShowArea(std::shared_ptr<const TaskArea> area);
  void ShowAreaCut(const std::vector<AreaEstimate>& levels);
  // The area an opened project or set names, or none.
  void OpenProjectArea(const std::string& projectOrSetFile);
  void ShowAreaOnPicker(AreaPickerDialog& dialog);
  // The estimate of the fields narrowed to the area in use.
  AreaEstimateOrReason EstimateOfFields(const StartInputs& in) const;

  // ControllerView
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void SetButtonCaption(const std::string& caption) override;
  void SetTotalLabel(const std::string& text) override;
  void SetTimerEnabled(bool enabled) override;
  void LogReplaced(const std::vector<std::string>& lines) override;
  void LogAppended(const std::string& line) override;
  void FailedReplaced(const std::vector<std::string>& lines) override;
  void FailedAppended(const std::string& line) override;
  bool ConfirmLargeDownload(const std::string& question) override;
  bool ListProgress(int64_t tilesWritten, int64_t totalTiles) override;
  void StatusChanged() override;

  std::string programFolder_;
  DownloadPauses refreshPauses_;  // a refresh goes at a download's pace
  qm::QtUiBridge bridge_;
  std::unique_ptr<DownloadController> controller_;
  QStringList pendingLog_;
  QStringList pendingFailed_;
  bool flushScheduled_ = false;
  bool summaryPending_ = false;
  std::unique_ptr<ListProgressDialog> listDialog_;  // while Start writes a long tile list
  bool closing_ = false;
  std::string areaFile_;  // the vector file the area in use was read from; empty for a project's
  QTimer* bufferPause_ = nullptr;  // runs while typing in the buffer has not paused yet
  std::unique_ptr<LevelSetRun> levelSet_;  // the set of the last download, when it was one
  bool levelSetRunning_ = false;
  bool levelSetStopWanted_ = false;
  int zoomShown_ = 13;  // the zoom before its last change, which the "to" zoom followed  // a download ran whose summary the status bar has not shown
};

extern TForm1* Form1;
