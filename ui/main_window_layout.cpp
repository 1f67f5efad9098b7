// The main window's controls, menu and status bar, placed as designed.
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
#include <QStatusBar>
#include <QVBoxLayout>

#include "ui/Unit1.h"
#include "ui/elided_label.h"
#include "ui/form_widgets.h"

namespace {

constexpr int kPanel1Width = 329;
constexpr int kStatusBarHeight = 19;
constexpr int kMinimumLogWidth = 120;
constexpr int kMinimumHeight = 342;  // the designed height: the Start button stays in view
// The memos show at most this many lines; the working copies, and so the files, keep them all.
constexpr int kMemoMaxLines = 200000;

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
  // The input panel and its Start button always stay whole; the log gets what is left.
  setMinimumSize(kPanel1Width + kMinimumLogWidth, kMinimumHeight);
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
  // The last level of a download over several levels; equal to the zoom, one level.
  LabelZoomTo = qm::PlaceLabel(GroupBox4, "to", 164, 96);
  EditZoomTo = qm::PlaceEdit(GroupBox4, 178, 94, 28);
  EditZoomTo->setReadOnly(true);
  EditZoomTo->setToolTip("The last zoom level: above the zoom level, every level between is downloaded too");
  UpDownTo = new qm::UpDown(GroupBox4);
  UpDownTo->setGeometry(206, 94, 15, 21);
  UpDownTo->SetRange(1, 19);
  UpDownTo->SetPosition(13);
  UpDownTo->SetAssociate(EditZoomTo);
  PickOnMapButton = PlaceButton(GroupBox4, "Pick on map...", 226, 92, 84, 25);
  PickOnMapButton->setToolTip("Draw the area on a map of the tile server's imagery");

  Label6 = qm::PlaceLabel(Panel2, "Path to save:", 6, 201);
  Edit6 = qm::PlaceEdit(Panel2, 79, 200, 194);
  Button1 = PlaceButton(Panel2, "...", 272, 198, 38, 25);
  Button1->setToolTip("Click to select path");

  BuildAreaRow();

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
  RefreshTiles1 = Tools1->addAction("Refresh tiles...");

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
