// The dialog that shows a long tile list being written, with Cancel. It appears only when the
// list takes more than half a second, and touches the window at most every 50 ms, so it costs
// the list next to nothing.
#pragma once

#include <cstdint>

#include <QElapsedTimer>

class QProgressDialog;
class QWidget;

class ListProgressDialog {
 public:
  explicit ListProgressDialog(QWidget* parent);
  ~ListProgressDialog();
  ListProgressDialog(const ListProgressDialog&) = delete;
  ListProgressDialog& operator=(const ListProgressDialog&) = delete;

  // Shows the count (now and then) and handles pending events; false once Cancel was pressed.
  bool Update(int64_t tilesWritten, int64_t totalTiles);

 private:
  QProgressDialog* dialog_;
  QElapsedTimer sinceUpdate_;
};
