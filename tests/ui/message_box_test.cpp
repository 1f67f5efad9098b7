// The message boxes under the application's title and the guard around handler bodies.
#include <stdexcept>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/errors.h"
#include "tests/ui/ui_test_helpers.h"

namespace {

TEST(MessageBoxTest, PlainBoxCarriesTheTextAsGivenUnderTheTitle) {
  MessageBoxRecorder boxes;
  qm::ShowMessage(std::string("No logfile now.                         "));
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].kind, qm::MessageBoxKind::Plain);
  EXPECT_EQ(boxes.Calls()[0].title, "Quillmere");
  EXPECT_EQ(boxes.Calls()[0].text, "No logfile now.                         ");
}

TEST(MessageBoxTest, GuardShowsAnEscapingErrorWithAPeriodOnceAndGoesOn) {
  MessageBoxRecorder boxes;
  qm::RunGuarded([] { throw qm::FileError("Cannot create file /x/a.jpg"); });
  qm::RunGuarded([] { throw std::runtime_error("Already ends."); });
  bool ran = false;
  qm::RunGuarded([&] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(boxes.Calls().size(), 2u);
  EXPECT_EQ(boxes.Calls()[0].kind, qm::MessageBoxKind::Error);
  EXPECT_EQ(boxes.Calls()[0].text, "Cannot create file /x/a.jpg.");
  EXPECT_EQ(boxes.Calls()[1].text, "Already ends.");
}

// Shown in a real box, a sentence's last word stays with the colon before it when the line wraps.
TEST(MessageBoxTest, ABoxKeepsTheLastWordWithItsColon) {
  QString shown;
  QTimer::singleShot(0, [&shown] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->accept();
    }
  });
  qm::ShowMessage(std::string("The header line \"X-Key\" should be written as Name: value.\nNext: one two"));
  EXPECT_EQ(shown, QString::fromUtf8("The header line \"X-Key\" should be written as Name:\u00A0value.\nNext: one two"));
}

}  // namespace
