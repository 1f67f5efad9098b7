// HTTP/1.1 wire texts for the test server: request head parsing and answer formatting.
#include "tests/support/server_wire.h"

#include <algorithm>
#include <cctype>

namespace qmtest {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char p, char q) {
           return std::tolower(static_cast<unsigned char>(p)) ==
                  std::tolower(static_cast<unsigned char>(q));
         });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// "http://host:port/path?q" -> "/path?q"; "http://host" -> "/".
std::string PathOfAbsoluteUrl(std::string_view url) {
  std::size_t schemeEnd = url.find("://");
  std::size_t hostStart = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
  std::size_t pathStart = url.find('/', hostStart);
  if (pathStart == std::string_view::npos) return "/";
  return std::string(url.substr(pathStart));
}

}  // namespace

std::optional<std::string> FindHeader(const HeaderList& headers, const std::string& name) {
  for (const auto& [key, value] : headers) {
    if (EqualsNoCase(key, name)) return value;
  }
  return std::nullopt;
}

std::optional<RequestHead> ParseRequestHead(std::string_view head) {
  RequestHead request;
  std::size_t lineEnd = head.find("\r\n");
  std::string_view requestLine = head.substr(0, lineEnd);
  std::size_t firstBlank = requestLine.find(' ');
  std::size_t lastBlank = requestLine.rfind(' ');
  if (firstBlank == std::string_view::npos || lastBlank == firstBlank) return std::nullopt;
  request.method = std::string(requestLine.substr(0, firstBlank));
  request.target = std::string(requestLine.substr(firstBlank + 1, lastBlank - firstBlank - 1));
  request.version = std::string(requestLine.substr(lastBlank + 1));
  if (request.target.empty() || request.version.rfind("HTTP/", 0) != 0) return std::nullopt;
  request.proxyForm = request.target.front() != '/';
  request.path = request.proxyForm ? PathOfAbsoluteUrl(request.target) : request.target;

  while (lineEnd != std::string_view::npos) {
    std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string_view line = head.substr(start, lineEnd == std::string_view::npos
                                                   ? std::string_view::npos
                                                   : lineEnd - start);
    std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos) continue;
    request.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                 std::string(Trim(line.substr(colon + 1))));
  }
  return request;
}

std::string ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string AnswerHead(int status, const HeaderList& extra, std::size_t contentLength,
                       bool chunked, bool close, const std::optional<std::string>& reason) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason.value_or(ReasonPhrase(status)) + "\r\n";
  head += "Content-Type: application/octet-stream\r\n";
  for (const auto& [name, value] : extra) head += name + ": " + value + "\r\n";
  if (chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else {
    head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
  }
  if (close) head += "Connection: close\r\n";
  head += "\r\n";
  return head;
}

std::string ChunkedBody(const std::string& body) {
  constexpr std::size_t kPiece = 64 * 1024;
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  out.reserve(body.size() + body.size() / kPiece * 12 + 16);
  for (std::size_t pos = 0; pos < body.size(); pos += kPiece) {
    std::size_t n = std::min(kPiece, body.size() - pos);
    std::string size;
    for (std::size_t v = n; v != 0; v >>= 4) size.insert(size.begin(), kHex[v & 15]);
    out += size + "\r\n";
    out.append(body, pos, n);
    out += "\r\n";
  }
  out += "0\r\n\r\n";
  return out;
}

std::string Base64(const std::string& text) {
  static const char* const kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                 (static_cast<unsigned char>(text[i + 1]) << 8) |
                 static_cast<unsigned char>(text[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
  }
  std::size_t rest = text.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(text[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(text[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace qmtest
