// The extra trusted certificate authority file that QUILLMERE_CA_FILE may name.
#pragma once

#include <optional>
#include <string>

namespace qm {

inline constexpr const char* kCaFileVariable = "QUILLMERE_CA_FILE";

// Why the file that QUILLMERE_CA_FILE names cannot serve, or nothing when the variable is unset,
// empty, or names a readable file. A file that cannot be read would fail every HTTPS tile.
std::optional<std::string> CaFileProblem();

}  // namespace qm
