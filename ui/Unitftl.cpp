// The window that downloads the tiles of a failed-tile list again.
#include "ui/Unitftl.h"

#include <QCloseEvent>

#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "download/redownload_run.h"
#include "engine/saved_servers.h"
#include "platform/program_layout.h"
#include "ui/following_memo.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

TfrmFlt* frmFlt = nullptr;

namespace {

constexpr int kClientWidth = 703;
constexpr int kClientHeight = 453;
constexpr int kTopPanelHeight = 57;

QString ChooseListFileWithDialog(QWidget* parent) {
  // Qt reads the patterns from the parentheses, so this one filter shows as "Projects(*.ftl)"
  // and lists the *.ftl files.
  const QString filter = QStringLiteral("Projects(*.ftl)");
  QString selected = filter;
  return QFileDialog::getOpenFileName(parent, "Open ftl file:", QString(), filter, &selected);
}

// Shows each entry of a run in the memo as soon as it is added; the memo turns an entry's own
// line breaks (CR LF, LF or CR) into line breaks of its text.
class MemoView : public RedownloadView {
 public:
  explicit MemoView(QPlainTextEdit* memo) : memo_(memo) {}

  void AddEntry(const std::string& entry) override {
    qm::AppendFollowing(memo_, QString::fromStdString(entry));
  }

  void ProcessEvents() override { QCoreApplication::processEvents(); }

 private:
  QPlainTextEdit* memo_;
};

}  // namespace

TfrmFlt::TfrmFlt(QWidget* parent) : QDialog(parent), chooseListFile_(ChooseListFileWithDialog) {
  qm::SetUpFixedDialog(this, "Re-Download failed files", kClientWidth, kClientHeight);
  BuildControls();
  connect(Button1, &QPushButton::clicked, this, &TfrmFlt::Button1Click);
  qm::CenterOnScreen(this);
}

void TfrmFlt::BuildControls() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Panel1 = new QFrame(this);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setFixedHeight(kTopPanelHeight);
  Button1 = new QPushButton("Open *.ftl file and download...", Panel1);
  Button1->setGeometry(16, 16, 201, 25);
  column->addWidget(Panel1);

  Panel2 = new QFrame(this);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* memoLayout = new QVBoxLayout(Panel2);
  memoLayout->setContentsMargins(0, 0, 0, 0);
  Memo1 = new QPlainTextEdit(Panel2);
  Memo1->setReadOnly(true);
  Memo1->setUndoRedoEnabled(false);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont memoFont = qm::FormFont(8);
  memoFont.setPixelSize(13);
  Memo1->setFont(memoFont);
  memoLayout->addWidget(Memo1);
  column->addWidget(Panel2, 1);
}

void TfrmFlt::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A spontaneous show is the window manager restoring the window, not the window being shown.
  if (!event->spontaneous()) qm::RunGuarded([this] { FormShow(); });
}

void TfrmFlt::reject() {
  if (!running_) QDialog::reject();
}

void TfrmFlt::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TfrmFlt::FormShow() { Memo1->clear(); }

void TfrmFlt::Button1Click() {
  // The one pause after "Start..." hands queued input on; a click that arrives there must not
  // start a second run inside the first.
  if (running_) return;
  const QString listFile = chooseListFile_(this);
  if (listFile.isEmpty()) return;
  running_ = true;
  Memo1->clear();
  MemoView view(Memo1);
  qm::RunGuarded([&] {
    // A saved server's headers (an API key, often) go with the requests; a plain host adds none.
    const ServerInUse server = ReadServerInUse(qm::ConfigFilePath(qm::DataFolder()));
    RunRedownload(listFile.toStdString(), view, std::nullopt, RedownloadRules{"", server.headers});
  });
  running_ = false;
}
