// Message boxes under the application's title, and the standard error box for errors that escape
// a handler; tests replace the real boxes with a sink that records what would have been shown.
#pragma once

#include <functional>
#include <string>

#include <QString>

namespace qm {

inline constexpr const char* kApplicationTitle = "Quillmere";

enum class MessageBoxKind { Plain, Error };

struct MessageBoxCall {
  MessageBoxKind kind;
  QString title;
  QString text;
};

using MessageBoxSink = std::function<void(const MessageBoxCall&)>;

// Routes every box to sink instead of a modal QMessageBox; an empty sink restores the real boxes.
// Returns the sink that was installed before.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

// A plain box: the text, an OK button, the application's title.
void ShowMessage(const QString& text);
void ShowMessage(const std::string& text);

// The standard error box: critical icon, OK button, the text with a period appended when it does
// not end in one.
void ShowErrorBox(const std::string& message);

// Runs a handler body; an exception escaping it is shown in the standard error box and goes no
// further, so the event loop carries on.
void RunGuarded(const std::function<void()>& body) noexcept;

}  // namespace qm
