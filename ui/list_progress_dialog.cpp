// The tile list's progress dialog.
#include "ui/list_progress_dialog.h"

#include <algorithm>

#include <QCoreApplication>
#include <QProgressDialog>

#include "engine/area_input.h"
#include "ui/message_box.h"

namespace {
constexpr qint64 kUpdateIntervalMs = 50;
}

ListProgressDialog::ListProgressDialog(QWidget* parent) : dialog_(new QProgressDialog(parent)) {
  dialog_->setWindowTitle(QString::fromUtf8(qm::kApplicationTitle));
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setRange(0, 1000);
  dialog_->setMinimumDuration(500);
  dialog_->setAutoReset(false);
  dialog_->setAutoClose(false);
}

ListProgressDialog::~ListProgressDialog() { delete dialog_; }

bool ListProgressDialog::Update(int64_t tilesWritten, int64_t totalTiles) {
  if (sinceUpdate_.isValid() && sinceUpdate_.elapsed() < kUpdateIntervalMs) return !dialog_->wasCanceled();
  sinceUpdate_.start();
  dialog_->setLabelText(QString::fromStdString("Writing the tile list: " + GroupedCount(tilesWritten) + " of " +
                                               GroupedCount(totalTiles) + " tiles..."));
  dialog_->setValue(static_cast<int>(tilesWritten * 1000 / std::max<int64_t>(1, totalTiles)));
  QCoreApplication::processEvents();
  return !dialog_->wasCanceled();
}
