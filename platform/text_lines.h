// Splitting text into lines the way a text view loads a file, and reading list files whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_ops.h"

namespace qm {

// Lines end at CR LF, LF alone or CR alone; a final line break adds no empty line; the text ends
// at its first zero byte, if any.
std::vector<std::string> SplitTextLines(std::string_view text);

// Logs and failed-tile lists are read whole into lines. A log gets a line per tile, so a task
// that ran for weeks writes some hundred MB; these limits are far beyond that, and keep a file of
// nothing but line breaks from costing more memory than the bytes allow.
inline constexpr std::size_t kMaxListFileBytes = std::size_t{1} << 30;
inline constexpr std::size_t kMaxListFileLines = std::size_t{1} << 25;

// SplitTextLines of a file's content, without a UTF-8 byte order mark at its start. Throws FileError "Cannot open file <path>", or
// FileTooLarge for more bytes or lines than the limits (smaller ones for tests).
std::vector<std::string> ReadTextFileLines(const std::string& path,
                                           std::size_t maxBytes = kMaxListFileBytes,
                                           std::size_t maxLines = kMaxListFileLines,
                                           Links links = Links::kFollowed);

}  // namespace qm
