// Helpers of the window tests: a program folder with or without a configuration file, and a
// recorder of the message boxes that would have been shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>

#include "tests/support/temp_dir.h"
#include "ui/message_box.h"

class QWidget;

// Presses and releases a key in a widget as the keyboard would; text is what the key types.
void PressKey(QWidget* widget, int key, const QString& text = QString());
// Types each character of text into the widget.
void TypeText(QWidget* widget, const QString& text);
// Handles events until done() holds, for ten seconds at most; whether it holds.
bool WaitUntil(const std::function<bool()>& done);

// A program folder of its own: ini/ exists unless asked otherwise.
class ProgramFolderForTest {
 public:
  explicit ProgramFolderForTest(bool withIniFolder = true);
  const std::string& Path() const { return dir_.Path(); }
  std::string ConfigPath() const { return dir_.Path() + "ini/config.ini"; }
  void WriteConfig(const std::string& content) const;
  std::string ReadConfig() const;

 private:
  TempDir dir_;
};

// Records every message box while it lives instead of showing it.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  const std::vector<qm::MessageBoxCall>& Calls() const { return calls_; }

 private:
  std::vector<qm::MessageBoxCall> calls_;
  qm::MessageBoxSink previous_;
};
