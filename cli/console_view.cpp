// Messages of the download on standard error.
#include "cli/console_view.h"

#include <cstdio>

#include "platform/errors.h"

namespace {
// The window's message box at the end of every download ("Task stoped!" and blanks).
bool IsEndBox(const std::string& text) { return text.starts_with("Task stoped!"); }
}  // namespace

void ConsoleView::ShowMessage(const std::string& text) {
  if (!IsEndBox(text)) Print(text);
}

void ConsoleView::ShowError(const std::string& text) {
  sawError_ = true;
  Print(qm::ErrorBoxText(text));
}

void ConsoleView::LogAppended(const std::string& line) {
  if (const auto reason = failureReasons_.NewReason(line)) Print(*reason);
}

void ConsoleView::Print(const std::string& text) {
  if (beforeMessage_) beforeMessage_();
  std::fprintf(stderr, "quillmere-cli: %s\n", text.c_str());
}
