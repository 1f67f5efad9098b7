// Splitting text into lines at CR LF, LF or CR, and reading list files with bounds.
#include "platform/text_lines.h"

#include "platform/file_ops.h"

namespace qm {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view UpToFirstZero(std::string_view text) {
  const size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// Calls onLine(start, length) for every line of text, as SplitTextLines counts them.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine onLine) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    onLine(start, i - start);
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) onLine(start, text.size() - start);
}

size_t LineCount(std::string_view text) {
  size_t count = 0;
  ForEachLine(text, [&count](size_t, size_t) { ++count; });
  return count;
}

std::vector<std::string> Split(std::string_view text, size_t lineCount) {
  std::vector<std::string> lines;
  lines.reserve(lineCount);
  ForEachLine(text, [&](size_t start, size_t length) { lines.emplace_back(text.substr(start, length)); });
  return lines;
}

}  // namespace

std::vector<std::string> SplitTextLines(std::string_view text) {
  text = UpToFirstZero(text);
  return Split(text, LineCount(text));
}

std::vector<std::string> ReadTextFileLines(const std::string& path, size_t maxBytes, size_t maxLines, Links links) {
  const std::string content = ReadFileUpTo(path, maxBytes, links);
  std::string_view text = UpToFirstZero(content);
  // A list saved by an editor that marks UTF-8 files: the mark is no part of its first line.
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  const size_t lineCount = LineCount(text);
  if (lineCount > maxLines) throw FileTooLarge(path);
  return Split(text, lineCount);
}

}  // namespace qm
