// Pieces shared by the windows: the form font, absolutely placed labels and the up-down spinner.
#pragma once

#include <QFont>
#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

namespace qm {

// The system's sans-serif font at a point size (the windows use 8 pt, memos and buttons 10 pt).
QFont FormFont(int pointSize, bool bold = false);

// A label whose top-left corner is at x, y of its parent, sized to its text.
QLabel* PlaceLabel(QWidget* parent, const QString& text, int x, int y);

// An edit field at x, y of its parent, 21 pixels high unless told otherwise.
QLineEdit* PlaceEdit(QWidget* parent, int x, int y, int width, int height = 21,
                     const QString& text = QString());

// A dialog with a title, a fixed client size, the form font and a title bar with only its close
// button (plus extra window flags such as staying on top).
void SetUpFixedDialog(QWidget* dialog, const QString& title, int width, int height,
                      Qt::WindowFlags extraFlags = {});

// Moves a window so that it is centred on the available area of its screen.
void CenterOnScreen(QWidget* window);

// Two arrow buttons stacked in one narrow column that step an integer position between a
// minimum and a maximum, stopping at both ends (no wrap-around). An associated edit field shows
// the position; the Up and Down keys in that field step it too.
class UpDown : public QWidget {
  Q_OBJECT

 public:
  explicit UpDown(QWidget* parent = nullptr);

  void SetRange(int minimum, int maximum);
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  void SetAssociate(QLineEdit* edit);
  int Position() const { return position_; }
  // Clamps to the range; the associated field shows the new position.
  void SetPosition(int position);

  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

 public slots:
  // Steps from the number the associated field shows (the own position when it shows none).
  void StepBy(int steps);

 signals:
  void PositionChanged(int position);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* up_;
  QToolButton* down_;
  QLineEdit* associate_ = nullptr;
  int minimum_ = 0;
  int maximum_ = 100;
  int position_ = 0;
};

}  // namespace qm
