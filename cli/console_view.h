// The download controller's view on a terminal: message boxes become lines on standard error
// (the box at the end of a download is left out: the command line prints its summary instead),
// each new kind of tile failure in the log is told once, the failed-tile view stays in the
// controller (its file is the record), a large task is not asked about, and a stop request
// cancels a tile list being written.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "cli/failure_reasons.h"
#include "download/controller_view.h"

class ConsoleView : public ControllerView {
 public:
  explicit ConsoleView(const std::atomic<int>& stopRequests) : stopRequests_(stopRequests) {}

  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void SetButtonCaption(const std::string&) override {}
  void SetTotalLabel(const std::string&) override {}
  void SetTimerEnabled(bool) override {}
  void LogReplaced(const std::vector<std::string>&) override {}
  void LogAppended(const std::string& line) override;
  void FailedReplaced(const std::vector<std::string>&) override {}
  void FailedAppended(const std::string&) override {}
  bool ListProgress(int64_t, int64_t) override { return stopRequests_.load() == 0; }

  // Runs before every message, so a progress line being rewritten in place is erased first.
  void SetBeforeMessage(std::function<void()> hook) { beforeMessage_ = std::move(hook); }
  // A file error was shown (the standard error box of the window).
  bool SawFileError() const { return sawError_; }

 private:
  void Print(const std::string& text);

  const std::atomic<int>& stopRequests_;
  bool sawError_ = false;
  FailureReasons failureReasons_;
  std::function<void()> beforeMessage_;
};
