// Whether a tile answer starts like an image file rather than an error page or other text.
#pragma once

#include <optional>
#include <string_view>

// The start of a JPEG, PNG, GIF or WebP file.
bool LooksLikeImage(std::string_view bytes);

// The pixel size a JPEG or PNG declares in its header.
struct ImageSize {
  int width = 0;
  int height = 0;
  bool operator==(const ImageSize&) const = default;
};
// Nothing for other formats, or when the header cannot be found.
std::optional<ImageSize> DeclaredImageSize(std::string_view bytes);
