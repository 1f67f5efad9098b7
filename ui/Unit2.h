// The about box: the program's title, the credit line and the home page and mail links.
#pragma once

#include <functional>
#include <utility>

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QUrl;
class TForm1;

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  // Opens a URL with the desktop's default application; true when it could. The box does not
  // examine the result.
  using UrlOpener = std::function<bool(const QUrl& url)>;

  explicit TfrmAbout(QWidget* parent = nullptr);

  void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }

  QFrame* Panel1;
  QLabel* Label3;
  QLabel* Label8;
  QLabel* Label5;
  QLabel* Label4;
  QLabel* Label6;
  QLabel* Label7;
  QPushButton* bLater;

 public slots:
  void FormShow();
  void Label4Click();
  void Label7Click();
  void bLaterClick();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // The window whose title and URLs the box shows: Form1, or else the main window it belongs to.
  const TForm1* MainWindow() const;

  UrlOpener openUrl_;
};

extern TfrmAbout* frmAbout;
