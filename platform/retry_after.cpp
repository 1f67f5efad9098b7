// Reading Retry-After: delta seconds or an HTTP date, bounded.
#include "platform/retry_after.h"

#include <algorithm>
#include <cctype>

#include "platform/http_date.h"

namespace qm {

namespace {

std::string Trimmed(const std::string& text) {
  const auto blank = [](unsigned char c) { return c == ' ' || c == '\t'; };
  size_t begin = 0, end = text.size();
  while (begin < end && blank(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && blank(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::optional<int> Bounded(long long seconds) {
  if (seconds <= 0) return std::nullopt;
  return static_cast<int>(std::min<long long>(seconds, kMaxRetryAfterSeconds));
}

}  // namespace

std::optional<int> ParseRetryAfter(const std::string& value, std::time_t now) {
  const std::string text = Trimmed(value);
  if (AllDigits(text)) {
    // More digits than any bound could need: a huge count is simply the longest wait.
    if (text.size() > 9) return kMaxRetryAfterSeconds;
    return Bounded(std::stoll(text));
  }
  const std::optional<std::time_t> when = ParseHttpDate(text);
  if (!when) return std::nullopt;
  return Bounded(static_cast<long long>(*when) - static_cast<long long>(now));
}

std::optional<int> RetryAfterOf(const HttpResult& result, std::time_t now) {
  if (result.ok || (result.status != 429 && result.status != 503) || result.retryAfter.empty()) {
    return std::nullopt;
  }
  return ParseRetryAfter(result.retryAfter, now);
}

std::string ServerBusyText(const std::string& statusLine, int seconds) {
  return "Server busy (" + statusLine + "): asking again in " + std::to_string(seconds) + " s";
}

}  // namespace qm
