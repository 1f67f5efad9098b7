// Opening a file, program or URL as the desktop would, and saying why when it cannot be done.
#pragma once

#include <functional>
#include <string>

#include <QString>

// A program is started; anything else goes to the desktop's default application through
// xdg-open. The open runs on its own: failed() is called later, on this thread, with the reason
// when no program could open the target (nothing is called when it opened).
void OpenWithDesktop(const std::string& target, std::function<void(const QString& reason)> failed);
