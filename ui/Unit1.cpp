// The main window: the input form, the log memo, the menu and the start-up settings.
#include "ui/Unit1.h"

#include <utility>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include "download/status_line.h"
#include "engine/area_input.h"
#include "engine/fetch_settings.h"
#include "engine/project_loader.h"
#include "mapview/tile_disk_cache.h"
#include "mapview/web_tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "ui/Convert.h"
#include "ui/Unit2.h"
#include "ui/Unitftl.h"
#include "ui/Unitoptions.h"
#include "ui/area_picker_dialog.h"
#include "ui/desktop_open.h"
#include "ui/elided_label.h"
#include "ui/following_memo.h"
#include "ui/list_progress_dialog.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

TForm1* Form1 = nullptr;

namespace {

// The window's size including its menu and status bar (the frame is the window manager's).
constexpr int kWindowWidth = 588;
constexpr int kWindowHeight = 342;
constexpr int kPanel1Width = 329;
constexpr int kStatusBarHeight = 19;
constexpr int kMinimumLogWidth = 120;
// The memos show at most this many lines; the working copies, and so the files, keep them all.
constexpr int kMemoMaxLines = 200000;
constexpr int kMemoFlushDelayMs = 100;

// A line as a memo shows it: a line break inside it (CR LF, LF or CR) starts a new memo line.
QString DisplayText(const std::string& line) {
  QString text = QString::fromStdString(line);
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  return text;
}

QString DisplayText(const std::vector<std::string>& lines) {
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) shown << DisplayText(line);
  return shown.join('\n');
}

QPushButton* PlaceButton(QWidget* parent, const QString& text, int x, int y, int width,
                         int height) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(x, y, width, height);
  button->setAutoDefault(true);  // a focused button takes Enter
  return button;
}

QPlainTextEdit* MakeMemo(QWidget* parent, const QString& firstLine, const QColor& textColor) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setReadOnly(true);
  memo->setUndoRedoEnabled(false);
  memo->setMaximumBlockCount(kMemoMaxLines);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setFont(qm::FormFont(10));
  QPalette palette = memo->palette();
  palette.setColor(QPalette::Text, textColor);
  memo->setPalette(palette);
  memo->setPlainText(firstLine);
  return memo;
}

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
  // The input panel and its Start button always stay whole; the log gets what is left.
  setMinimumSize(kPanel1Width + kMinimumLogWidth, kWindowHeight);
  SetDownloadPauses(DownloadPauses{});
  PickFolder = [this] { return QFileDialog::getExistingDirectory(this, "Select path to save"); };
  PickProjectFile = [this] {
    return QFileDialog::getOpenFileName(this, "Open project file:", QString::fromStdString(DefaultPath),
                                        "Projects(*.qmtp)");
  };
  OpenInShell = [this](const std::string& target) {
    OpenWithDesktop(target, [this](const QString& reason) { qm::ShowMessage(reason.toStdString()); });
  };
  RunAreaPicker = [](AreaPickerDialog& dialog) { return dialog.exec(); };
}

TForm1::~TForm1() {
  // A window destroyed without being closed still lets its workers finish their last calls.
  if (controller_) controller_->ShutDown([] { QCoreApplication::processEvents(); });
}

void TForm1::SetDownloadPauses(const DownloadPauses& pauses) {
  if (controller_ && controller_->Running()) return;
  controller_ = std::make_unique<DownloadController>(*this, bridge_, qm::ConfigFilePath(programFolder_),
                                                     pauses, programFolder_);
}

void TForm1::BuildPanels() {
  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  Panel1 = new QFrame(central);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setFixedWidth(kPanel1Width);
  auto* column = new QVBoxLayout(Panel1);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  Panel2 = new QFrame(Panel1);
  Panel2->setFrameStyle(QFrame::NoFrame);
  column->addWidget(Panel2, 1);
  Panel3 = new QFrame(Panel1);
  Panel3->setFixedHeight(0);
  column->addWidget(Panel3);

  Panel4 = new QFrame(central);
  Panel4->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

  row->addWidget(Panel1);
  row->addWidget(Panel4, 1);
  setCentralWidget(central);

  BuildInputPanel();
  BuildMemos();
}

void TForm1::BuildInputPanel() {
  Label16 = qm::PlaceLabel(Panel2, "Task name:", 7, 18);
  EditTaskName = qm::PlaceEdit(Panel2, 71, 16, 154, 21, "newtask.qmtp");
  Button4 = PlaceButton(Panel2, "Open task ...", 228, 14, 84, 25);

  GroupBox4 = new QGroupBox(Panel2);
  GroupBox4->setGeometry(3, 50, 318, 134);
  Label1 = qm::PlaceLabel(GroupBox4, "Left Longitude:", 6, 19);
  Edit1 = qm::PlaceEdit(GroupBox4, 79, 16, 69);
  Label2 = qm::PlaceLabel(GroupBox4, "Right Longitude:", 162, 20);
  Edit3 = qm::PlaceEdit(GroupBox4, 243, 16, 67);
  Label3 = qm::PlaceLabel(GroupBox4, "Top Latitude:", 6, 56);
  Edit2 = qm::PlaceEdit(GroupBox4, 79, 56, 69);
  Label4 = qm::PlaceLabel(GroupBox4, "Bottom Latitude:", 162, 58);
  Edit4 = qm::PlaceEdit(GroupBox4, 243, 56, 67);
  Label5 = qm::PlaceLabel(GroupBox4, "Zoom level:", 7, 96);
  Edit5 = qm::PlaceEdit(GroupBox4, 79, 94, 65);
  Edit5->setReadOnly(true);
  UpDown1 = new qm::UpDown(GroupBox4);
  UpDown1->setGeometry(144, 94, 15, 21);
  UpDown1->SetRange(1, 19);
  UpDown1->SetPosition(13);
  UpDown1->SetAssociate(Edit5);
  PickOnMapButton = PlaceButton(GroupBox4, "Pick on map...", 199, 92, 111, 25);
  PickOnMapButton->setToolTip("Draw the area on a map of the tile server's imagery");

  Label6 = qm::PlaceLabel(Panel2, "Path to save:", 6, 201);
  Edit6 = qm::PlaceEdit(Panel2, 79, 200, 194);
  Button1 = PlaceButton(Panel2, "...", 272, 198, 38, 25);
  Button1->setToolTip("Click to select path");

  LabelTotalxy = new QLabel(Panel2);
  LabelTotalxy->setGeometry(8, 257, 203, 13);

  BitBtn1 = PlaceButton(Panel2, "Start", 243, 251, 78, 33);
  BitBtn1->setFont(qm::FormFont(10, true));
  BitBtn1->setDefault(true);
}

void TForm1::BuildMemos() {
  auto* failedLayout = new QVBoxLayout(Panel3);
  failedLayout->setContentsMargins(0, 0, 0, 0);
  Memo2 = MakeMemo(Panel3, "[Failed tile inforamtion window]", Qt::blue);
  failedLayout->addWidget(Memo2);
  Memo2->hide();
  Panel3->hide();

  auto* logLayout = new QVBoxLayout(Panel4);
  logLayout->setContentsMargins(0, 0, 0, 0);
  Memo1 = MakeMemo(Panel4, "[log window]", QColor(0x00, 0x80, 0x00));
  Memo1->setFrameStyle(QFrame::NoFrame);
  QPalette palette = Memo1->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
  Memo1->setPalette(palette);
  Memo1->setToolTip("Double click to view log in notepad");
  Memo1->viewport()->installEventFilter(this);
  logLayout->addWidget(Memo1);
}

void TForm1::BuildMenu() {
  MainMenu1 = new QMenuBar(this);
  setMenuBar(MainMenu1);

  File1 = MainMenu1->addMenu("&File");
  Exit1 = File1->addAction("E&xit");

  Options1 = MainMenu1->addMenu("&Options");
  Options2 = Options1->addAction("Options...");

  Misc1 = MainMenu1->addMenu("&Misc");
  ConvertLongitudeorLatitudetodegreen1 =
      Misc1->addAction("Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"...");
  N2 = Misc1->addSeparator();
  Viewlogfile1 = Misc1->addAction("View log file");

  Tools1 = MainMenu1->addMenu("&Tools");
  Mapviewer1 = Tools1->addAction("Map Viewer");
  N6 = Tools1->addSeparator();
  CombineImages1 = Tools1->addAction("Map Combiner");
  N5 = Tools1->addSeparator();
  ReDownloadfailedfiles1 = Tools1->addAction("Re-Download failed images");

  Help1 = MainMenu1->addMenu("&Help");
  Usermanual1 = Help1->addAction("User manual");
  Homepage1 = Help1->addAction("Homepage");
  N1 = Help1->addSeparator();
  About1 = Help1->addAction("About...");
}

void TForm1::BuildStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setFixedHeight(kStatusBarHeight);
  // A label of its own holds the fixed text (no command has a status tip that would cover it).
  StatusText = new ElidedLabel("Download satellite images from Zelkova Maps!", StatusBar1);
  StatusBar1->addWidget(StatusText, 1);
  DownloadProgressBar = new QProgressBar(StatusBar1);
  DownloadProgressBar->setRange(0, 1000);
  DownloadProgressBar->setFixedWidth(120);
  DownloadProgressBar->setTextVisible(false);
  DownloadProgressBar->hide();
  StatusBar1->addPermanentWidget(DownloadProgressBar);
  setStatusBar(StatusBar1);
}

void TForm1::ConnectHandlers() {
  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::LoadParametersfromprojectfilel1Click);
  connect(PickOnMapButton, &QPushButton::clicked, this, &TForm1::PickOnMapClick);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  // Enter in any edit field presses the window's default button.
  for (QLineEdit* edit : {EditTaskName, Edit1, Edit3, Edit2, Edit4, Edit5, Edit6}) {
    connect(edit, &QLineEdit::returnPressed, BitBtn1, &QPushButton::click);
  }
  for (QLineEdit* edit : {Edit1, Edit3, Edit2, Edit4, Edit5}) {
    connect(edit, &QLineEdit::textEdited, this, &TForm1::ShowEstimate);
  }
  connect(UpDown1, &qm::UpDown::PositionChanged, this, &TForm1::ShowEstimate);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(Options2, &QAction::triggered, this, &TForm1::Options2Click);
  connect(ConvertLongitudeorLatitudetodegreen1, &QAction::triggered, this,
          &TForm1::ConvertLongitudeorLatitudetodegreen1Click);
  connect(Viewlogfile1, &QAction::triggered, this, &TForm1::Viewlogfile1Click);
  connect(Mapviewer1, &QAction::triggered, this, &TForm1::Mapviewer1Click);
  connect(CombineImages1, &QAction::triggered, this, &TForm1::CombineImages1Click);
  connect(ReDownloadfailedfiles1, &QAction::triggered, this, &TForm1::ReDownloadfailedfiles1Click);
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
  qm::RunGuarded([this] { controller_->BitBtn1Click(ReadInputs()); });
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

// The picker starts from the fields as they are; OK writes its rectangle into them as typed
// texts, and the zoom, and touches nothing else.
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
    AreaPickerDialog dialog(std::move(inputs), this);
    if (RunAreaPicker(dialog) != QDialog::Accepted) return;
    const std::optional<AreaTexts> texts = dialog.Texts();
    if (!texts) return;
    Edit1->setText(QString::fromStdString(texts->left));
    Edit3->setText(QString::fromStdString(texts->right));
    Edit2->setText(QString::fromStdString(texts->top));
    Edit4->setText(QString::fromStdString(texts->bottom));
    UpDown1->SetPosition(std::stoi(texts->zoom));
    ShowEstimate();
  });
}

void TForm1::Button1Click() {
  qm::RunGuarded([this] {
    const QString folder = PickFolder();
    if (!folder.isEmpty()) Edit6->setText(folder);
  });
}

void TForm1::Timer1Timer() {
  qm::RunGuarded([this] { controller_->Timer1Timer(); });
  RefreshStatus();
}

void TForm1::RefreshStatus() {
  const DownloadController& c = *controller_;
  DownloadProgressBar->setVisible(c.Running());
  if (c.Running()) {
    summaryPending_ = true;
    const int64_t total = std::max<int64_t>(1, c.Progress().Total());
    DownloadProgressBar->setValue(static_cast<int>(c.Progress().Done() * 1000 / total));
  } else if (!summaryPending_ || !c.LastEnd() || c.CurrentTask() == nullptr) {
    return;  // the estimate or the last summary stays
  } else {
    summaryPending_ = false;
  }
  const StatusLine line = DownloadStatusLine(c);
  StatusText->setText(QString::fromStdString(line.text));
  StatusText->setToolTip(QString::fromStdString(line.tooltip));
}

void TForm1::StatusChanged() { RefreshStatus(); }

// While the user edits the area, the status bar says what it amounts to or what is missing.
void TForm1::ShowEstimate() {
  if (controller_->Running()) return;
  const StartInputs in = ReadInputs();
  const AreaEstimateOrReason area =
      EstimateArea(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, in.Zoom);
  StatusText->setText(QString::fromStdString(area.estimate ? EstimateText(*area.estimate) : area.reason));
  StatusText->setToolTip(QString());
}

// A tile list that takes more than half a second shows a dialog whose Cancel (or closing the
// window) undoes the Start; events are handled meanwhile, so the window stays responsive.
bool TForm1::ListProgress(int64_t tilesWritten, int64_t totalTiles) {
  if (!listDialog_) listDialog_ = std::make_unique<ListProgressDialog>(this);
  return listDialog_->Update(tilesWritten, totalTiles) && !closing_;
}

bool TForm1::ConfirmLargeDownload(const std::string& question) {
  // A rate stays on one line however the box wraps the question.
  QString text = QString::fromStdString(question);
  text.replace(" tiles/s", QChar(0x00A0) + QString("tiles/s"));
  return qm::AskYesNo(text);
}

void TForm1::LoadParametersfromprojectfilel1Click() {
  qm::RunGuarded([this] {
    const QString file = PickProjectFile();
    if (file.isEmpty()) return;
    const ProjectFields fields = ReadProjectFields(file.toStdString());
    Edit1->setText(QString::fromStdString(fields.LeftLongitude));
    Edit3->setText(QString::fromStdString(fields.RightLongitude));
    Edit2->setText(QString::fromStdString(fields.TopLatitude));
    Edit4->setText(QString::fromStdString(fields.BottomLatitude));
    Edit6->setText(QString::fromStdString(fields.Folder));
    EditTaskName->setText(QString::fromStdString(fields.TaskName));
    UpDown1->SetPosition(fields.Zoom);
    Edit5->setText(QString::number(fields.Zoom));  // as stored, even outside the spinner's range
    ShowEstimate();
  });
}

void TForm1::Viewlogfile1Click() {
  qm::RunGuarded([this] {
    const TDownTask* task = controller_->CurrentTask();
    switch (DecideLogView(task != nullptr, task ? task->LogFile : "")) {
      case LogViewAction::NoTask:
        qm::ShowMessage(kNoTaskText);
        break;
      case LogViewAction::NoLogFile:
        qm::ShowMessage(kNoLogFileText);
        break;
      case LogViewAction::Open:
        OpenInShell(task->LogFile);
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

void TForm1::About1Click() {
  if (frmAbout) frmAbout->exec();
}

void TForm1::Homepage1Click() { OpenInShell(HomePageUrl); }

void TForm1::Usermanual1Click() { OpenInShell(HelpFileName); }

// The companions lie beside this program's executable, in the build folder and when installed.
void TForm1::Mapviewer1Click() { OpenInShell(qm::ProgramFolder() + "mapviewer"); }

void TForm1::CombineImages1Click() { OpenInShell(qm::ProgramFolder() + "mapcombiner"); }

// The controller's view: boxes, caption, label, timer and the two memos.

void TForm1::ShowMessage(const std::string& text) { qm::ShowMessage(text); }

void TForm1::ShowError(const std::string& text) { qm::ShowErrorBox(text); }

void TForm1::SetButtonCaption(const std::string& caption) {
  BitBtn1->setText(QString::fromStdString(caption));
}

void TForm1::SetTotalLabel(const std::string& text) {
  LabelTotalxy->setText(QString::fromStdString(text));
}

void TForm1::SetTimerEnabled(bool enabled) {
  if (enabled) {
    Timer1->start();
  } else {
    Timer1->stop();
  }
}

void TForm1::LogReplaced(const std::vector<std::string>& lines) {
  pendingLog_.clear();
  qm::ReplaceShowingEnd(Memo1, DisplayText(lines));
}

void TForm1::LogAppended(const std::string& line) {
  pendingLog_ << DisplayText(line);
  ScheduleMemoFlush();
}

void TForm1::FailedReplaced(const std::vector<std::string>& lines) {
  pendingFailed_.clear();
  qm::ReplaceShowingEnd(Memo2, DisplayText(lines));
}

void TForm1::FailedAppended(const std::string& line) {
  pendingFailed_ << DisplayText(line);
  ScheduleMemoFlush();
}

void TForm1::ScheduleMemoFlush() {
  if (flushScheduled_) return;
  flushScheduled_ = true;
  QTimer::singleShot(kMemoFlushDelayMs, this, [this] { FlushMemos(); });
}

void TForm1::FlushMemos() {
  flushScheduled_ = false;
  if (!pendingLog_.isEmpty()) qm::AppendFollowing(Memo1, pendingLog_.join('\n'));
  if (!pendingFailed_.isEmpty()) qm::AppendFollowing(Memo2, pendingFailed_.join('\n'));
  pendingLog_.clear();
  pendingFailed_.clear();
}
