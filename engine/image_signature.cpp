// Image file signatures.
#include "engine/image_signature.h"

bool LooksLikeImage(std::string_view bytes) {
  const auto starts = [bytes](std::string_view magic) { return bytes.starts_with(magic); };
  return starts("\xFF\xD8\xFF") || starts("\x89PNG") || starts("GIF8") ||
         (starts("RIFF") && bytes.size() > 12 && bytes.substr(8, 4) == "WEBP");
}

namespace {

int BigEndian(std::string_view bytes, size_t at, size_t count) {
  int value = 0;
  for (size_t i = 0; i < count; ++i) value = value * 256 + static_cast<unsigned char>(bytes[at + i]);
  return value;
}

bool IsJpeg(std::string_view bytes) { return bytes.starts_with("\xFF\xD8\xFF"); }
bool IsPng(std::string_view bytes) { return bytes.starts_with("\x89PNG\r\n\x1A\n"); }

// The frame header's size: the segments are walked up to the first start-of-frame marker.
std::optional<ImageSize> JpegSize(std::string_view bytes) {
  size_t at = 2;
  while (at + 4 <= bytes.size() && static_cast<unsigned char>(bytes[at]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(bytes[at + 1]);
    const int length = BigEndian(bytes, at + 2, 2);
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && at + 9 <= bytes.size()) return ImageSize{BigEndian(bytes, at + 7, 2), BigEndian(bytes, at + 5, 2)};
    if (marker == 0xDA || length < 2) return std::nullopt;  // image data before any frame header
    at += 2 + static_cast<size_t>(length);
  }
  return std::nullopt;
}

}  // namespace

std::optional<ImageSize> DeclaredImageSize(std::string_view bytes) {
  if (IsJpeg(bytes)) return JpegSize(bytes);
  if (IsPng(bytes) && bytes.size() >= 24 && bytes.substr(12, 4) == "IHDR") {
    return ImageSize{BigEndian(bytes, 16, 4), BigEndian(bytes, 20, 4)};
  }
  return std::nullopt;
}
