// The window that downloads the tiles of a failed-tile list again.
#include "ui/Unitftl.h"

#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/form_widgets.h"

TfrmFlt* frmFlt = nullptr;

namespace {
constexpr int kClientWidth = 703;
constexpr int kClientHeight = 453;
constexpr int kTopPanelHeight = 57;
}  // namespace

TfrmFlt::TfrmFlt(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Re-Download failed files");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(qm::FormFont(8));
  setFixedSize(kClientWidth, kClientHeight);

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

  qm::CenterOnScreen(this);
}
