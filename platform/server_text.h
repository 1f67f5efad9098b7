// Text that comes from a server (a status line, a header value, an ETag), made safe to write into
// a log, a list or a terminal and to send back in a later request.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The text without its control characters: C0 and C1 controls, DEL, whole terminal escape
// sequences (ESC [ ... final, ESC ] ... BEL, and the like), line and paragraph separators and
// bidirectional overrides. Every other byte stays as it was, so a printable status line is kept
// byte for byte.
std::string WithoutControls(std::string_view text);

}  // namespace qm
