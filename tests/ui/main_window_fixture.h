// A main window on a program folder of its own whose settings name the local test server, with
// the worked example's area typed in, and helpers to run its downloads to their end.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "tests/support/test_server.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unit1.h"

// Processes events until pred holds; false after the timeout.
template <typename Pred>
inline bool ProcessUntil(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct MainWindowOnTestServer : ::testing::Test {
  ProgramFolderForTest program;
  TempDir maps;
  qmtest::TestServer server;
  MessageBoxRecorder boxes;
  std::unique_ptr<TForm1> window;

  void SetUp() override {
    program.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n");
    window = std::make_unique<TForm1>(program.Path());
    window->SetDownloadPauses(DownloadPauses::Zero());
    window->show();
    window->Edit1->setText("-74");
    window->Edit3->setText("-73.9");
    window->Edit2->setText("40.7");
    window->Edit4->setText("40.6");
    window->Edit6->setText(QString::fromStdString(maps.Path() + "area"));
  }

  // Waits for every worker's end, then lets the timer's next tick end the download.
  bool FinishDownload() {
    if (!ProcessUntil([&] { return window->Controller().RunningThreads() == 0; })) return false;
    window->Timer1Timer();
    window->FlushMemos();
    return window->BitBtn1->text() == "Start";
  }

  QStringList Memo1Lines() const { return window->Memo1->toPlainText().split('\n'); }
  std::vector<QString> BoxTexts() const {
    std::vector<QString> texts;
    for (const auto& call : boxes.Calls()) texts.push_back(call.text);
    return texts;
  }
};
