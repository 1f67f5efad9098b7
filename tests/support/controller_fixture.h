// A download controller driven without a window: a recording view, a pumped bridge, a config
// file pointing at the local test server, and helpers to run a download to its end.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "download/controller_view.h"
#include "download/download_controller.h"
#include "platform/ui_bridge.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace qmtest {

class RecordingView : public ControllerView {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void SetButtonCaption(const std::string& c) override { caption = c; }
  void SetTotalLabel(const std::string& text) override { totalLabel = text; }
  void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  void LogReplaced(const std::vector<std::string>& lines) override { log = lines; }
  void LogAppended(const std::string& line) override { log.push_back(line); }
  void FailedReplaced(const std::vector<std::string>& lines) override { failed = lines; }
  void FailedAppended(const std::string& line) override { failed.push_back(line); }
  bool ConfirmLargeDownload(const std::string& question) override {
    questions.push_back(question);
    return confirmAnswer;
  }

  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::string caption = "Start";
  std::string totalLabel;
  bool timerEnabled = false;
  std::vector<std::string> log;
  std::vector<std::string> failed;
  std::vector<std::string> questions;
  bool confirmAnswer = true;
  bool ListProgress(int64_t written, int64_t total) override {
    listProgress.emplace_back(written, total);
    return !cancelListAt || written < cancelListAt;
  }
  std::vector<std::pair<int64_t, int64_t>> listProgress;
  int64_t cancelListAt = 0;  // the list is cancelled once this many tiles are written (0: never)
};

// The worked example's rectangle (zoom 13, 3 columns x 4 rows) in a folder "maps" of dir.
StartInputs ExampleInputs(const TempDir& dir, const std::string& taskName = "newtask.qmtp");

// Writes dir/ini/config.ini naming the server as tile server; returns its path.
std::string WriteConfig(const TempDir& dir, const TestServer& server, const std::string& proxy = "");
std::string WriteConfig(const TempDir& dir, const std::string& tileServer);

struct ControllerRig {
  explicit ControllerRig(const TempDir& dir, const TestServer& server,
                         DownloadPauses pauses = DownloadPauses::Zero());
  ControllerRig(const TempDir& dir, const std::string& tileServer, DownloadPauses pauses);
  ~ControllerRig();
  // Pumps the bridge until every worker has reported its end, then ticks until the download
  // has ended. False on timeout.
  bool RunToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Presses Start with the inputs and runs the download to its end; returns whether it
  // continued the existing project (false also when it did not start or end).
  bool StartResumesAndEnds(const StartInputs& inputs);
  // Presses Start and pumps until the server has seen at least n requests.
  bool StartAndAwaitRequests(const StartInputs& inputs, const TestServer& server, size_t n);

  RecordingView view;
  qm::PumpedBridge bridge;
  DownloadController controller;
};

}  // namespace qmtest
