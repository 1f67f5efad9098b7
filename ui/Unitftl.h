// The window that downloads the tiles of a failed-tile list again.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include <QDialog>

class QFrame;
class QPlainTextEdit;
class QPushButton;

class TfrmFlt : public QDialog {
  Q_OBJECT

 public:
  // Asks the user for a failed-tile list; an empty result means the user cancelled.
  using ListFileChooser = std::function<QString(QWidget* parent)>;

  explicit TfrmFlt(QWidget* parent = nullptr);

  void SetListFileChooser(ListFileChooser chooser) { chooseListFile_ = std::move(chooser); }

  QFrame* Panel1;
  QPushButton* Button1;
  QFrame* Panel2;
  QPlainTextEdit* Memo1;

 public slots:
  void FormShow();
  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  // While a run is in progress the window stays: Esc and the title bar's close wait for its end.
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();

  ListFileChooser chooseListFile_;
  bool running_ = false;
};

extern TfrmFlt* frmFlt;
