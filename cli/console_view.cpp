// Messages of the download on standard error.
#include "cli/console_view.h"

#include <cstdio>

#include "platform/errors.h"

void ConsoleView::ShowMessage(const std::string& text) {
  if (beforeMessage_) beforeMessage_();
  std::fprintf(stderr, "quillmere-cli: %s\n", text.c_str());
}

void ConsoleView::ShowError(const std::string& text) {
  if (beforeMessage_) beforeMessage_();
  sawError_ = true;
  std::fprintf(stderr, "quillmere-cli: %s\n", qm::ErrorBoxText(text).c_str());
}
