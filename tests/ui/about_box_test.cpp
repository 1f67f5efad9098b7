// The about box: the title line and links taken from the main window, and the links' opener.
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

#include "tests/ui/ui_test_helpers.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"

namespace {

void Click(QWidget* widget) {
  const QPointF at(2, 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &release);
}

class AboutBoxTest : public ::testing::Test {
 protected:
  AboutBoxTest() : mainWindow(folder.Path()), about(&mainWindow) {
    Form1 = &mainWindow;
    mainWindow.show();  // sets the title and the two URLs
    about.SetUrlOpener([this](const QUrl& url) {
      opened.push_back(url.toString());
      return openerSucceeds;
    });
  }
  ~AboutBoxTest() override { Form1 = nullptr; }

  ProgramFolderForTest folder;
  TForm1 mainWindow;
  TfrmAbout about;
  std::vector<QString> opened;
  bool openerSucceeds = true;
};

TEST_F(AboutBoxTest, EachShowTakesTheMainWindowsCurrentTitleAndUrls) {
  about.show();
  EXPECT_EQ(about.Label3->text(), mainWindow.windowTitle());
  EXPECT_EQ(about.Label4->text(), "https://quillmere.example.org/");
  EXPECT_EQ(about.Label7->text(), "mailto:support@quillmere.example.org");
  about.hide();

  mainWindow.setWindowTitle("Quillmere 7.1 - downloading");
  about.show();
  EXPECT_EQ(about.Label3->text(), "Quillmere 7.1 - downloading");
}

TEST_F(AboutBoxTest, CreditLineAndOkButton) {
  about.show();
  EXPECT_EQ(about.Label8->text(), "Developer:  quillmere.example.org");
  EXPECT_TRUE(about.bLater->isDefault());
  about.bLater->click();
  EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutBoxTest, ClickingTheLinksOpensExactlyTheTwoUrls) {
  about.show();
  Click(about.Label4);
  Click(about.Label7);
  Click(about.Label3);  // not a link
  Click(about.Label5);
  EXPECT_EQ(opened, (std::vector<QString>{"https://quillmere.example.org/",
                                          "mailto:support@quillmere.example.org"}));
}

TEST_F(AboutBoxTest, FailingOpenerChangesNothingAndShowsNothing) {
  MessageBoxRecorder boxes;
  openerSucceeds = false;
  about.show();
  const QString title = about.Label3->text();
  Click(about.Label4);
  Click(about.Label7);
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(about.Label3->text(), title);
  EXPECT_EQ(about.Label4->text(), "https://quillmere.example.org/");
  EXPECT_EQ(about.Label7->text(), "mailto:support@quillmere.example.org");
}

}  // namespace
