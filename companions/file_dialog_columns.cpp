#include "companions/file_dialog_columns.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>

namespace {

constexpr int kNameColumnWidth = 280;
const char* const kWidened = "quillmereColumnsWidened";

// The columns after Name as wide as their heading and what they show now, never narrower.
void WidenColumns(QFileDialog& dialog, QTreeView& view) {
  QHeaderView* header = view.header();
  int needed = kNameColumnWidth;
  for (int column = 1; column < header->count(); ++column) {
    const int content = static_cast<QAbstractItemView&>(view).sizeHintForColumn(column);
    const int width = std::max({content, header->sectionSizeHint(column), header->sectionSize(column)});
    header->resizeSection(column, width);
    needed += width;
  }
  if (header->width() < needed) dialog.resize(dialog.width() + needed - header->width(), dialog.height());
  header->resizeSection(0, std::max(kNameColumnWidth, header->width() - (needed - kNameColumnWidth)));
}

}  // namespace

void ShowFileColumnsWhole(QFileDialog& dialog) {
  auto* view = dialog.findChild<QTreeView*>();
  if (view == nullptr || view->header() == nullptr) return;
  WidenColumns(dialog, *view);
  // A folder's entries come in later: their sizes and types may be wider than the headings.
  auto* model = dialog.findChild<QFileSystemModel*>();
  if (model == nullptr || model->property(kWidened).toBool()) return;
  model->setProperty(kWidened, true);
  QObject::connect(model, &QFileSystemModel::directoryLoaded, &dialog, [&dialog, view] { WidenColumns(dialog, *view); });
}

bool FileDialogColumns::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    if (auto* dialog = qobject_cast<QFileDialog*>(watched)) ShowFileColumnsWhole(*dialog);
  }
  return QObject::eventFilter(watched, event);
}
