// Qt's own file dialog opens with its Name column so wide that Size, Type and Date Modified are
// cut off: every file dialog of the program is widened, once shown, to show them whole.
#pragma once

#include <QObject>

class QFileDialog;

// Gives the columns after Name the width of their contents and heading, and the dialog the width
// they need beside a name column of a usual width. A native dialog has no such view: left alone.
void ShowFileColumnsWhole(QFileDialog& dialog);

// Installed on the application: applies ShowFileColumnsWhole to each file dialog as it is shown.
class FileDialogColumns : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override;
};
