// Message boxes under the application's title, and the standard error box for errors that escape
// a handler; tests replace the real boxes with a sink that records what would have been shown.
#pragma once

#include <functional>
#include <string>

#include <QString>

namespace qm {

inline constexpr const char* kApplicationTitle = "Quillmere";

enum class MessageBoxKind { Plain, Error, Question };

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

// A question with Yes and No buttons, No being the default; true for Yes. Under a sink the call
// is recorded and answered with the answer set here (Yes unless told otherwise).
bool AskYesNo(const QString& text);
void SetSinkAnswer(bool yes);

// The standard error box: critical icon, OK button, the text with a period appended when it does
// not end in one.
void ShowErrorBox(const std::string& message);

// Runs a handler body; an exception escaping it is shown in the standard error box and goes no
// further, so the event loop carries on.
void RunGuarded(const std::function<void()>& body) noexcept;

}  // namespace qm
