// The converter window: every worked example through its fields, input errors, Enter and reopening.
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "tests/ui/ui_test_helpers.h"
#include "ui/Convert.h"

namespace {

struct Example {
  const char* degrees;
  const char* minutes;
  const char* seconds;
  const char* expected;
};

void Enter(TfrmConvert& window, const Example& example) {
  window.Edit1->setText(example.degrees);
  window.Edit2->setText(example.minutes);
  window.Edit3->setText(example.seconds);
}

TEST(ConverterWindowTest, EveryWorkedExampleShowsItsText) {
  const Example examples[] = {
      {"40", "42", "46", "40.712776184082"},
      {"12", "30", "0", "12.5"},
      {"12", "30", "", "12.5"},
      {"-12", "30", "0", "-11.5"},
      {"-12", "-30", "0", "-12.5"},
      {"116", "23", "29.5", "116.391525268555"},
      {"39", "54", "15.6", "39.9043350219727"},
      {"39", "54", "15,6", "39.904167175293"},
      {"0", "75", "0", "1.25"},
      {"0", "0", "0", "0"},
      {"0", "0", "1", "0.000277777784503996"},
      {"0", "0", "0.3", "8.33333397167735E-5"},
  };
  MessageBoxRecorder boxes;
  TfrmConvert window(nullptr, '.');
  window.show();
  for (const Example& example : examples) {
    Enter(window, example);
    window.Button1->click();
    EXPECT_EQ(window.Edit4->text(), example.expected)
        << example.degrees << " " << example.minutes << " " << example.seconds;
  }
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST(ConverterWindowTest, InputErrorLeavesThePreviousResult) {
  const Example bad[] = {
      {"", "30", "0", ""}, {"12", "", "0", ""}, {"12.5", "30", "0", ""}, {"12 ", "30", "0", ""},
      {"12", "30 ", "0", ""}, {"2147483648", "0", "0", ""}, {"$80000000", "0", "0", ""},
  };
  MessageBoxRecorder boxes;
  TfrmConvert window(nullptr, '.');
  window.show();
  Enter(window, {"12", "30", "0", ""});
  window.Button1->click();
  ASSERT_EQ(window.Edit4->text(), "12.5");

  for (const Example& example : bad) {
    Enter(window, example);
    window.Button1->click();
    EXPECT_EQ(window.Edit4->text(), "12.5") << example.degrees << " " << example.minutes;
  }
  ASSERT_EQ(boxes.Calls().size(), std::size(bad));
  for (const qm::MessageBoxCall& call : boxes.Calls()) {
    EXPECT_EQ(call.kind, qm::MessageBoxKind::Plain);
    EXPECT_EQ(call.text, "Input Error.");
    EXPECT_EQ(call.title, "Quillmere");
  }
}

TEST(ConverterWindowTest, HexadecimalDegreesAndTheGivenSeparator) {
  TfrmConvert window(nullptr, ',');
  window.show();
  Enter(window, {"$C", "0x1E", "0", ""});  // 12 and 30
  window.Button1->click();
  EXPECT_EQ(window.Edit4->text(), "12,5");
}

TEST(ConverterWindowTest, EnterInAFieldConvertsAndTheWindowStaysModelessOnTop) {
  TfrmConvert window(nullptr, '.');
  window.show();
  EXPECT_FALSE(window.isModal());
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(window.windowTitle(), "Convert \"Degrees,Minutes,Seconds\" to \"Degrees\"");

  window.Edit1->setFocus();
  TypeText(window.Edit1, "0");
  TypeText(window.Edit2, "75");
  TypeText(window.Edit3, "0");
  PressKey(window.Edit3, Qt::Key_Return, "\r");
  EXPECT_EQ(window.Edit4->text(), "1.25");
  EXPECT_TRUE(window.isVisible());  // Enter converts; it does not close the window
}

TEST(ConverterWindowTest, FieldsKeepTheirContentsWhenHiddenAndShownAgain) {
  TfrmConvert window(nullptr, '.');
  window.show();
  Enter(window, {"40", "42", "46", ""});
  window.Button1->click();
  window.hide();
  window.show();
  EXPECT_EQ(window.Edit1->text(), "40");
  EXPECT_EQ(window.Edit2->text(), "42");
  EXPECT_EQ(window.Edit3->text(), "46");
  EXPECT_EQ(window.Edit4->text(), "40.712776184082");
}

TEST(ConverterWindowTest, ResultIsReadOnlyButCanBeSelected) {
  TfrmConvert window(nullptr, '.');
  window.show();
  Enter(window, {"0", "75", "0", ""});
  window.Button1->click();
  TypeText(window.Edit4, "9");
  EXPECT_EQ(window.Edit4->text(), "1.25");
  window.Edit4->selectAll();
  EXPECT_EQ(window.Edit4->selectedText(), "1.25");
}

}  // namespace
