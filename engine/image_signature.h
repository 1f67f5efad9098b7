// Whether a tile answer starts like an image file rather than an error page or other text.
#pragma once

#include <string_view>

// The start of a JPEG, PNG, GIF or WebP file.
bool LooksLikeImage(std::string_view bytes);
