// Removing control characters and escape sequences from text a server sent.
#include "platform/server_text.h"

#include <cstdint>
#include <optional>

namespace qm {

namespace {

constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kBell = 0x07;

struct CodePoint {
  std::uint32_t value;
  size_t length;
};

// The UTF-8 sequence at text[at] (shortest form, no surrogates); nothing when it is none.
std::optional<CodePoint> Utf8At(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  std::uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07u;
  } else {
    return std::nullopt;
  }
  if (at + length > text.size()) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0u) != 0x80u) return std::nullopt;
    value = value << 6 | (next & 0x3Fu);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return std::nullopt;
  return CodePoint{value, length};
}

// Characters that move or hide text without being C0 or C1 controls.
bool IsLayoutControl(std::uint32_t c) {
  return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Where the escape sequence whose introducer (the byte after ESC, or a C1 control less 0x40)
// stands before text[at] ends.
size_t EndOfEscape(std::string_view text, size_t at, unsigned char introducer) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  switch (introducer) {
    case '[':  // control sequence: parameters, intermediates, one final byte
      while (at < text.size() && byte(at) >= 0x20 && byte(at) <= 0x3F) ++at;
      return at < text.size() && byte(at) >= 0x40 && byte(at) <= 0x7E ? at + 1 : at;
    case ']':
    case 'P':
    case 'X':
    case '^':
    case '_':  // a string, ended by BEL or ESC backslash
      while (at < text.size() && byte(at) != kBell && byte(at) != kEscape) ++at;
      if (at < text.size() && byte(at) == kBell) return at + 1;
      return at + 1 < text.size() && byte(at + 1) == '\\' ? at + 2 : at;
    default:  // a final byte alone, or intermediates and then one final byte
      if (introducer < 0x20 || introducer > 0x2F) return at;
      while (at < text.size() && byte(at) >= 0x20 && byte(at) <= 0x2F) ++at;
      return at < text.size() && byte(at) >= 0x30 && byte(at) <= 0x7E ? at + 1 : at;
  }
}

}  // namespace

std::string WithoutControls(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == kEscape) {
      if (at + 1 == text.size()) break;
      const auto introducer = static_cast<unsigned char>(text[at + 1]);
      at = introducer < 0x20 ? at + 1 : EndOfEscape(text, at + 2, introducer);
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      ++at;
      continue;
    }
    if (c < 0x80) {
      clean += static_cast<char>(c);
      ++at;
      continue;
    }
    const std::optional<CodePoint> point = Utf8At(text, at);
    // A C1 control, as UTF-8 or as a byte of its own, is the two-byte escape ESC (c - 0x40).
    const std::uint32_t value = point ? point->value : c;
    const size_t length = point ? point->length : 1;
    if (value >= 0x80 && value <= 0x9F) {
      at = EndOfEscape(text, at + length, static_cast<unsigned char>(value - 0x40));
      continue;
    }
    if (!IsLayoutControl(value)) clean.append(text.substr(at, length));
    at += length;
  }
  return clean;
}

}  // namespace qm
