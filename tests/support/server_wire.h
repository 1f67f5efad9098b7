// HTTP/1.1 wire texts for the test server: request head parsing and answer formatting.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tests/support/test_server.h"

namespace qmtest {

struct RequestHead {
  std::string method;
  std::string target;
  std::string version;
  HeaderList headers;
  std::string path;
  bool proxyForm = false;
};

// Parses a request head (request line and header lines, without the blank line); nullopt when
// the request line is malformed.
std::optional<RequestHead> ParseRequestHead(std::string_view head);

std::optional<std::string> FindHeader(const HeaderList& headers, const std::string& name);

std::string ReasonPhrase(int status);

// Status line and headers of a complete answer, ending with the blank line; reason replaces the
// status's usual reason phrase.
std::string AnswerHead(int status, const HeaderList& extra, std::size_t contentLength,
                       bool chunked, bool close, const std::optional<std::string>& reason = std::nullopt);

// The body in chunked transfer coding, split into pieces of at most 64 KiB.
std::string ChunkedBody(const std::string& body);

}  // namespace qmtest
