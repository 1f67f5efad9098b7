// The main window at start-up: caption, folder, zoom spinner, default button and menu commands.
#include <utility>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "tests/ui/ui_test_helpers.h"
#include "ui/Convert.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unitftl.h"
#include "ui/Unitoptions.h"
#include "ui/form_widgets.h"

namespace {

std::string HomeDownloads() { return QDir::homePath().toStdString() + "/Downloads"; }

TEST(MainWindowTest, WithoutConfigurationFileShowsDefaultsAndIdleState) {
  ProgramFolderForTest folder(/*withIniFolder=*/false);
  TForm1 window(folder.Path());
  window.show();

  EXPECT_EQ(window.windowTitle(), "Quillmere 6.2");
  EXPECT_EQ(window.DefaultPath, HomeDownloads());
  EXPECT_EQ(window.Edit6->text().toStdString(), HomeDownloads());
  EXPECT_EQ(window.ConfigFileName, folder.Path() + "ini/config.ini");
  EXPECT_EQ(window.HelpFileName, folder.Path() + "help/help.html");
  EXPECT_EQ(window.HomePageUrl, "https://quillmere.example.org/");
  EXPECT_EQ(window.MailUrl, "mailto:support@quillmere.example.org");
  // Nothing is created or tested at show.
  EXPECT_FALSE(qm::PathExists(folder.Path() + "ini"));

  EXPECT_EQ(window.BitBtn1->text(), "Start");
  EXPECT_FALSE(window.Timer1->isActive());
  EXPECT_EQ(window.Timer1->interval(), 1000);
  EXPECT_EQ(window.Memo1->toPlainText(), "[log window]");
  EXPECT_TRUE(window.Memo1->isReadOnly());
  EXPECT_FALSE(window.Memo1->isUndoRedoEnabled());
  EXPECT_FALSE(window.Memo2->isVisible());
  EXPECT_EQ(window.Memo2->toPlainText(), "[Failed tile inforamtion window]");
  EXPECT_TRUE(window.LabelTotalxy->text().isEmpty());
  EXPECT_EQ(window.EditTaskName->text(), "newtask.qmtp");
  EXPECT_EQ(window.Edit5->text(), "13");
  EXPECT_EQ(window.StatusText->text(), "Download satellite images from Zelkova Maps!");
}

TEST(MainWindowTest, CaptionAndFolderComeFromTheConfigurationFile) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nVersion=7.0\r\nDefaultPath=/srv/tiles\r\n");
  TForm1 window(folder.Path());
  window.show();
  EXPECT_EQ(window.windowTitle(), "Quillmere 7.0");
  EXPECT_EQ(window.Edit6->text(), "/srv/tiles");

  // A present but empty value is used as it stands, not replaced by the defaults.
  folder.WriteConfig("[IniParas]\r\nVersion=\r\nDefaultPath=\r\n");
  TForm1 second(folder.Path());
  second.show();
  EXPECT_EQ(second.windowTitle(), "Quillmere ");
  EXPECT_EQ(second.Edit6->text(), "");
}

TEST(MainWindowTest, ZoomFieldIsNotTypeableAndSpinnerStopsAtOneAndNineteen) {
  ProgramFolderForTest folder;
  TForm1 window(folder.Path());
  window.show();
  TypeText(window.Edit5, "7");
  EXPECT_EQ(window.Edit5->text(), "13");
  PressKey(window.Edit5, Qt::Key_Backspace);
  EXPECT_EQ(window.Edit5->text(), "13");

  for (int i = 0; i < 10; ++i) window.UpDown1->UpButton()->click();
  EXPECT_EQ(window.Edit5->text(), "19");
  EXPECT_EQ(window.UpDown1->Position(), 19);

  for (int i = 0; i < 25; ++i) window.UpDown1->DownButton()->click();
  EXPECT_EQ(window.Edit5->text(), "1");
  window.UpDown1->DownButton()->click();  // no wrap-around to 19
  EXPECT_EQ(window.Edit5->text(), "1");

  PressKey(window.Edit5, Qt::Key_Up);
  EXPECT_EQ(window.Edit5->text(), "2");
}

TEST(MainWindowTest, SpinnerStepsFromTheShownNumberWhenItLiesOutsideTheRange) {
  ProgramFolderForTest folder;
  TForm1 window(folder.Path());
  window.UpDown1->SetPosition(0);  // a project without zoom moves the spinner to 0 ...
  window.Edit5->setText("0");      // ... and shows 0
  EXPECT_EQ(window.UpDown1->Position(), 1);
  window.UpDown1->UpButton()->click();
  EXPECT_EQ(window.Edit5->text(), "1");

  window.Edit5->setText("25");
  window.UpDown1->DownButton()->click();
  EXPECT_EQ(window.Edit5->text(), "19");
}

TEST(MainWindowTest, EnterInAnyEditFieldPressesStart) {
  ProgramFolderForTest folder;
  TForm1 window(folder.Path());
  window.show();
  MessageBoxRecorder boxes;
  window.Edit6->clear();  // each press then stops at the first check, with a message box
  int clicks = 0;
  QObject::connect(window.BitBtn1, &QPushButton::clicked, [&clicks] { ++clicks; });
  const QList<QLineEdit*> edits = {window.EditTaskName, window.Edit1, window.Edit3, window.Edit2,
                                   window.Edit4,        window.Edit5, window.Edit6};
  for (QLineEdit* edit : edits) PressKey(edit, Qt::Key_Return, "\r");
  EXPECT_EQ(clicks, edits.size());
  PressKey(window.Edit1, Qt::Key_Enter, "\r");  // the keypad's Enter too
  EXPECT_EQ(clicks, edits.size() + 1);
  ASSERT_EQ(boxes.Calls().size(), static_cast<size_t>(clicks));
  EXPECT_EQ(boxes.Calls().back().text, "Please select a path to save the images.");
}

TEST(MainWindowTest, MenuHoldsItsCommandsSeparatorsAndAccessKeys) {
  ProgramFolderForTest folder;
  TForm1 window(folder.Path());
  auto texts = [](QMenu* menu) {
    QStringList list;
    for (QAction* action : menu->actions()) list << (action->isSeparator() ? "-" : action->text());
    return list;
  };
  EXPECT_EQ(window.File1->title(), "&File");
  EXPECT_EQ(texts(window.File1), QStringList({"E&xit"}));
  EXPECT_EQ(window.Options1->title(), "&Options");
  EXPECT_EQ(texts(window.Options1), QStringList({"Options..."}));
  EXPECT_EQ(window.Misc1->title(), "&Misc");
  EXPECT_EQ(texts(window.Misc1),
            QStringList(
                {"Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"...", "-", "View log file"}));
  EXPECT_EQ(window.Tools1->title(), "&Tools");
  EXPECT_EQ(texts(window.Tools1),
            QStringList({"Map Viewer", "-", "Map Combiner", "-", "Re-Download failed images", "Refresh tiles..."}));
  EXPECT_EQ(window.Help1->title(), "&Help");
  EXPECT_EQ(texts(window.Help1), QStringList({"User manual", "Homepage", "-", "About..."}));
}

TEST(MainWindowTest, OptionsCommandShowsTheOptionsDialogModallyFilledFromTheFile) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nDefaultPath=/srv/maps\r\n");
  TForm1 window(folder.Path());
  TfrmOptions options(folder.Path(), &window);
  frmOptions = &options;
  window.show();

  bool wasModal = false;
  QString shownPath;
  QTimer::singleShot(0, &options, [&] {
    wasModal = options.isVisible() && options.isModal();
    shownPath = options.Edit12->text();
    options.Button2->click();
  });
  window.Options2->trigger();
  frmOptions = nullptr;

  EXPECT_TRUE(wasModal);
  EXPECT_EQ(shownPath, "/srv/maps");
  EXPECT_FALSE(options.isVisible());
}

TEST(MainWindowTest, ConverterIsModelessWhileReDownloadAndAboutAreModal) {
  ProgramFolderForTest folder;
  TForm1 window(folder.Path());
  TfrmConvert converter(&window);
  TfrmFlt reDownload(&window);
  TfrmAbout about(&window);
  frmConvert = &converter;
  frmFlt = &reDownload;
  frmAbout = &about;
  window.show();

  window.ConvertLongitudeorLatitudetodegreen1->trigger();  // returns at once
  EXPECT_TRUE(converter.isVisible());
  EXPECT_FALSE(converter.isModal());

  for (auto [action, dialog] :
       {std::pair<QAction*, QDialog*>{window.ReDownloadfailedfiles1, &reDownload},
        {window.About1, &about}}) {
    bool wasModal = false;
    QTimer::singleShot(0, dialog, [&wasModal, dialog] {
      wasModal = dialog->isVisible() && dialog->isModal();
      dialog->reject();
    });
    action->trigger();
    EXPECT_TRUE(wasModal) << dialog->windowTitle().toStdString();
  }
  frmConvert = nullptr;
  frmFlt = nullptr;
  frmAbout = nullptr;
}

TEST(MainWindowTest, ExitClosesTheWindow) {
  ProgramFolderForTest folder;
  TForm1 window(folder.Path());
  window.show();
  window.Exit1->trigger();
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
