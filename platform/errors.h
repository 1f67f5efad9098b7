// Errors raised by the file layer, and the text the standard error box shows for them.
#pragma once

#include <stdexcept>
#include <string>

namespace qm {

// A file could not be opened, created or written; what() is the user-facing text.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string CannotOpenFileText(const std::string& path);    // "Cannot open file <path>"
std::string CannotCreateFileText(const std::string& path);  // "Cannot create file <path>"
std::string UnableToWriteText(const std::string& path);     // "Unable to write to <path>"

// The standard error box shows the error text with a period appended when it has none.
std::string ErrorBoxText(const std::string& message);

}  // namespace qm
