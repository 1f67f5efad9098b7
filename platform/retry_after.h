// A busy server's Retry-After: how long to hold off before asking it again, within bounds.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "platform/http_client.h"

namespace qm {

// However long a server asks for, a tile is asked again after at most this long.
inline constexpr int kMaxRetryAfterSeconds = 600;
// Waits for one tile beyond this many end, and its failure takes its usual course.
inline constexpr int kMaxRetryAfterWaits = 5;

// Seconds to wait from a Retry-After value: whole seconds or an HTTP date, at most
// kMaxRetryAfterSeconds. Nothing for garbage, a negative or zero count, or a date not after now.
std::optional<int> ParseRetryAfter(const std::string& value, std::time_t now);

// The wait a failed answer asks for: only a 429 or 503 with a usable Retry-After asks for one.
std::optional<int> RetryAfterOf(const HttpResult& result, std::time_t now = std::time(nullptr));

// "Server busy (<status line>): asking again in N s".
std::string ServerBusyText(const std::string& statusLine, int seconds);

}  // namespace qm
