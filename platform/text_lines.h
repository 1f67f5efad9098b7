// Splitting text into lines the way a text view loads a file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Lines end at CR LF, LF alone or CR alone; a final line break adds no empty line; the text ends
// at its first zero byte, if any.
std::vector<std::string> SplitTextLines(std::string_view text);

}  // namespace qm
