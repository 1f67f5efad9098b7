// HTTP dates written with names spelled out here, read with libcurl's date reader.
#include "platform/http_date.h"

#include <curl/curl.h>

#include <cstdio>

namespace qm {

std::string HttpDate(std::time_t time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::optional<std::time_t> ParseHttpDate(const std::string& text) {
  // Every form holds a time of day; libcurl's reader is lenient enough to make a date of other
  // text, so text without one is not offered to it.
  if (text.find(':') == std::string::npos) return std::nullopt;
  const std::time_t when = curl_getdate(text.c_str(), nullptr);
  if (when == -1) return std::nullopt;
  return when;
}

}  // namespace qm
