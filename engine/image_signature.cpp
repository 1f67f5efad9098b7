// Image file signatures.
#include "engine/image_signature.h"

bool LooksLikeImage(std::string_view bytes) {
  const auto starts = [bytes](std::string_view magic) { return bytes.starts_with(magic); };
  return starts("\xFF\xD8\xFF") || starts("\x89PNG") || starts("GIF8") ||
         (starts("RIFF") && bytes.size() > 12 && bytes.substr(8, 4) == "WEBP");
}
