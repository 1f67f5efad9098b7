// HTTP dates ("Sun, 06 Nov 1994 08:49:37 GMT") both ways, whatever the process locale.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace qm {

std::string HttpDate(std::time_t time);

// The time an HTTP date names (any of the three forms HTTP allows), or nothing for other text.
std::optional<std::time_t> ParseHttpDate(const std::string& text);

}  // namespace qm
