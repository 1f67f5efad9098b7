// What the download controller asks of the window that shows it: message boxes, the button
// caption, the tile count label, the timer and the two text views.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ControllerView {
 public:
  virtual ~ControllerView() = default;
  virtual void ShowMessage(const std::string& text) = 0;      // a plain message box
  virtual void ShowError(const std::string& text) = 0;        // the standard error box
  virtual void SetButtonCaption(const std::string& caption) = 0;
  virtual void SetTotalLabel(const std::string& text) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  // The log view (Memo1) and the failed-tile view (Memo2) show the controller's working copies.
  virtual void LogReplaced(const std::vector<std::string>& lines) = 0;
  virtual void LogAppended(const std::string& line) = 0;
  virtual void FailedReplaced(const std::vector<std::string>& lines) = 0;
  virtual void FailedAppended(const std::string& line) = 0;
  // Asks whether to go on with a large new download; the question holds its figures.
  virtual bool ConfirmLargeDownload(const std::string& /*question*/) { return true; }
  // The status changed outside the timer's tick: the last worker ended, or the download ended
  // and its message box is about to open.
  virtual void StatusChanged() {}
  // The tile list is being written (asked every few ten thousand tiles); false cancels the Start.
  virtual bool ListProgress(int64_t /*tilesWritten*/, int64_t /*totalTiles*/) { return true; }
};
