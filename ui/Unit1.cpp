// The main window: the input form, the log memo, the menu and the start-up settings.
#include "ui/Unit1.h"

#include <utility>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "engine/project_loader.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "ui/Convert.h"
#include "ui/Unit2.h"
#include "ui/Unitftl.h"
#include "ui/Unitoptions.h"
#include "ui/area_picker_dialog.h"
#include "ui/desktop_open.h"
#include "ui/list_progress_dialog.h"
#include "ui/refresh_dialog.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

TForm1* Form1 = nullptr;

namespace {

// The window's size including its menu and status bar (the frame is the window manager's).
constexpr int kWindowWidth = 588;
constexpr int kWindowHeight = 342;

}  // namespace

TForm1::TForm1(std::string programFolder, QWidget* parent)
    : QMainWindow(parent), programFolder_(qm::WithTrailingSeparator(programFolder)) {
  setFont(qm::FormFont(8));
  BuildPanels();
  BuildMenu();
  BuildStatusBar();
  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  ConnectHandlers();
  resize(kWindowWidth, kWindowHeight);
  SetDownloadPauses(DownloadPauses{});
  PickFolder = [this] { return QFileDialog::getExistingDirectory(this, "Select path to save"); };
  PickProjectFile = [this] {
    return QFileDialog::getOpenFileName(this, "Open project file:", QString::fromStdString(DefaultPath),
                                        "Projects and level sets (*.qmtp *.qmset);;Projects(*.qmtp);;Level sets(*.qmset)");
  };
  OpenInShell = [this](const std::string& target) {
    OpenWithDesktop(target, [this](const QString& reason) { qm::ShowMessage(reason.toStdString()); });
  };
  RunAreaPicker = [](AreaPickerDialog& dialog) { return dialog.exec(); };
  RunRefreshDialog = [](RefreshDialog& dialog) { dialog.exec(); };
}

TForm1::~TForm1() {
  // A window destroyed without being closed still lets its workers finish their last calls.
  if (controller_) controller_->ShutDown([] { QCoreApplication::processEvents(); });
}

void TForm1::SetDownloadPauses(const DownloadPauses& pauses) {
  if (controller_ && controller_->Running()) return;
  refreshPauses_ = pauses;
  controller_ = std::make_unique<DownloadController>(*this, bridge_, qm::ConfigFilePath(programFolder_),
                                                     pauses, programFolder_);
}

void TForm1::ConnectHandlers() {
  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::LoadParametersfromprojectfilel1Click);
  connect(PickOnMapButton, &QPushButton::clicked, this, &TForm1::PickOnMapClick);
  connect(AreaFileButton, &QPushButton::clicked, this, &TForm1::AreaFromFileClick);
  connect(AreaClearButton, &QPushButton::clicked, this, &TForm1::ClearArea);
  connect(EditBuffer, &QLineEdit::editingFinished, this, &TForm1::BufferEdited);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  // Enter in any edit field presses the window's default button.
  for (QLineEdit* edit : {EditTaskName, Edit1, Edit3, Edit2, Edit4, Edit5, Edit6}) {
    connect(edit, &QLineEdit::returnPressed, BitBtn1, &QPushButton::click);
  }
  for (QLineEdit* edit : {Edit1, Edit3, Edit2, Edit4, Edit5}) {
    connect(edit, &QLineEdit::textEdited, this, &TForm1::ShowEstimate);
  }
  connect(UpDown1, &qm::UpDown::PositionChanged, this, &TForm1::ZoomChanged);
  connect(UpDown1, &qm::UpDown::PositionChanged, this, &TForm1::ShowEstimate);
  connect(UpDownTo, &qm::UpDown::PositionChanged, this, &TForm1::ShowEstimate);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(Options2, &QAction::triggered, this, &TForm1::Options2Click);
  connect(ConvertLongitudeorLatitudetodegreen1, &QAction::triggered, this,
          &TForm1::ConvertLongitudeorLatitudetodegreen1Click);
  connect(Viewlogfile1, &QAction::triggered, this, &TForm1::Viewlogfile1Click);
  connect(Mapviewer1, &QAction::triggered, this, &TForm1::Mapviewer1Click);
  connect(CombineImages1, &QAction::triggered, this, &TForm1::CombineImages1Click);
  connect(ReDownloadfailedfiles1, &QAction::triggered, this, &TForm1::ReDownloadfailedfiles1Click);
  connect(RefreshTiles1, &QAction::triggered, this, &TForm1::RefreshTiles1Click);
  connect(Usermanual1, &QAction::triggered, this, &TForm1::Usermanual1Click);
  connect(Homepage1, &QAction::triggered, this, &TForm1::Homepage1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // A spontaneous show is the window manager restoring the window, not the window being shown.
  if (!event->spontaneous()) qm::RunGuarded([this] { FormShow(); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    Viewlogfile1Click();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormShow() {
  HomePageUrl = kHomePageUrl;
  MailUrl = kMailUrl;
  ConfigFileName = qm::ConfigFilePath(programFolder_);
  HelpFileName = programFolder_ + "help" + qm::kPathSeparator + "help.html";
  const qm::IniFile config(ConfigFileName);
  DefaultPath = config.ReadString("IniParas", "DefaultPath", qm::DefaultDownloadPath());
  const std::string version = config.ReadString("IniParas", "Version", "6.2");
  setWindowTitle(QString::fromStdString("Quillmere " + version));
  Edit6->setText(QString::fromStdString(DefaultPath));
}

void TForm1::BitBtn1Click() {
  qm::RunGuarded([this] {
    const bool starting = controller_->ButtonCaption() == "Start";
    if (starting && LevelSetWanted()) return StartLevelSet(ReadInputs());
    if (starting) levelSet_.reset();
    if (!starting && levelSetRunning_) levelSetStopWanted_ = true;
    controller_->BitBtn1Click(ReadInputs());
  });
  listDialog_.reset();
  RefreshStatus();
}

StartInputs TForm1::ReadInputs() const {
  StartInputs in;
  in.LeftLongitude = Edit1->text().toStdString();
  in.RightLongitude = Edit3->text().toStdString();
  in.TopLatitude = Edit2->text().toStdString();
  in.BottomLatitude = Edit4->text().toStdString();
  in.Zoom = Edit5->text().toStdString();
  in.Folder = Edit6->text().toStdString();
  in.TaskName = EditTaskName->text().toStdString();
  return in;
}

void TForm1::Button1Click() {
  qm::RunGuarded([this] {
    const QString folder = PickFolder();
    if (!folder.isEmpty()) Edit6->setText(folder);
  });
}

void TForm1::Timer1Timer() {
  qm::RunGuarded([this] {
    controller_->Timer1Timer();
    if (levelSetRunning_) LevelSetTick();
  });
  RefreshStatus();
}

void TForm1::LoadParametersfromprojectfilel1Click() {
  qm::RunGuarded([this] {
    const QString file = PickProjectFile();
    if (file.isEmpty()) return;
    if (file.endsWith(".qmset")) return OpenLevelSet(file.toStdString());
    const ProjectFields fields = ReadProjectFields(file.toStdString());
    Edit1->setText(QString::fromStdString(fields.LeftLongitude));
    Edit3->setText(QString::fromStdString(fields.RightLongitude));
    Edit2->setText(QString::fromStdString(fields.TopLatitude));
    Edit4->setText(QString::fromStdString(fields.BottomLatitude));
    Edit6->setText(QString::fromStdString(fields.Folder));
    EditTaskName->setText(QString::fromStdString(fields.TaskName));
    UpDown1->SetPosition(fields.Zoom);
    UpDownTo->SetPosition(fields.Zoom);
    Edit5->setText(QString::number(fields.Zoom));  // as stored, even outside the spinner's range
    EditZoomTo->setText(Edit5->text());
    OpenProjectArea(file.toStdString());
    ShowEstimate();
  });
}

void TForm1::Viewlogfile1Click() {
  qm::RunGuarded([this] {
    const TDownTask* task = controller_->CurrentTask();
    // A set's log is that of its level in hand, which a set found complete never built a task for.
    const std::string logFile = levelSet_ ? levelSet_->LogFile() : task ? task->LogFile : "";
    switch (DecideLogView(task != nullptr || levelSet_, logFile)) {
      case LogViewAction::NoTask:
        qm::ShowMessage(kNoTaskText);
        break;
      case LogViewAction::NoLogFile:
        qm::ShowMessage(kNoLogFileText);
        break;
      case LogViewAction::Open:
        OpenInShell(logFile);
        break;
    }
  });
}

void TForm1::closeEvent(QCloseEvent* event) {
  closing_ = true;  // a tile list being written stops
  // Workers still running are stopped, their requests aborted, and everything is saved; their
  // last calls into this thread need the event loop, so it keeps running while we wait.
  qm::RunGuarded([this] {
    controller_->ShutDown([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50); });
  });
  FlushMemos();
  event->accept();
  QCoreApplication::quit();
}

void TForm1::Exit1Click() { close(); }

void TForm1::Options2Click() {
  if (frmOptions) frmOptions->exec();
}

void TForm1::ConvertLongitudeorLatitudetodegreen1Click() {
  if (!frmConvert) return;
  frmConvert->show();
  frmConvert->raise();
  frmConvert->activateWindow();
}

void TForm1::ReDownloadfailedfiles1Click() {
  if (frmFlt) frmFlt->exec();
}

// The refresh window opens on the current task or set; while its download runs, it is not refreshed.
void TForm1::RefreshTiles1Click() {
  RefreshDialog dialog(programFolder_, refreshPauses_, this);
  const TDownTask* task = controller_->CurrentTask();
  const std::string project = levelSet_ && !levelSet_->SetFile().empty() ? levelSet_->SetFile()
                              : task                                  ? task->ProjectFile()
                                                                      : "";
  if (!project.empty()) {
    dialog.SetProject(QString::fromStdString(project));
    if (controller_->Running()) dialog.SetBusyProject(project);
  }
  RunRefreshDialog(dialog);
}

void TForm1::About1Click() {
  if (frmAbout) frmAbout->exec();
}

void TForm1::Homepage1Click() { OpenInShell(HomePageUrl); }

void TForm1::Usermanual1Click() { OpenInShell(HelpFileName); }

// The companions lie beside this program's executable, in the build folder and when installed.
void TForm1::Mapviewer1Click() { OpenInShell(qm::ProgramFolder() + "mapviewer"); }

void TForm1::CombineImages1Click() { OpenInShell(qm::ProgramFolder() + "mapcombiner"); }

