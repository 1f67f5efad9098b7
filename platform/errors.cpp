// Texts of the file layer's errors.
#include "platform/errors.h"

namespace qm {

std::string CannotOpenFileText(const std::string& path) { return "Cannot open file " + path; }
std::string CannotCreateFileText(const std::string& path) { return "Cannot create file " + path; }
std::string UnableToWriteText(const std::string& path) { return "Unable to write to " + path; }

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && message.back() == '.') return message;
  return message + ".";
}

}  // namespace qm
