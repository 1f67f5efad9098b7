// The pauses and time limits of a download, in milliseconds. The program always uses these
// values; tests pass shortened ones.
#pragma once

#include "platform/http_client.h"

struct DownloadPauses {
  int startStepMs = 100;       // times the worker index, before the first tile
  int afterStoredMs = 1000;    // after every stored tile; before each repeat after a broken
                               // connection but a tile's first, which goes at once
  int retryMs = 1000;          // before repeating after a refusal, not-found or other failure
  int socketRetryMs = 2000;    // before repeating after a socket error
  int addressInUseMs = 8000;   // before repeating after "address already in use" (10048)
  int retryAfterMsPerSecond = 1000;  // per second of a busy server's Retry-After
  // The time all requests of one tile may take together: the first may take all of it, each
  // later one what is left, but at least laterAttemptMinMs. A server that drips bytes then costs
  // a tile about one request limit, not one per attempt.
  int tileRequestsMs = static_cast<int>(qm::HttpClient::kRequestTimeLimitSeconds * 1000);
  int laterAttemptMinMs = 5000;

  // No pauses; the time limits stay.
  static DownloadPauses Zero() { return {0, 0, 0, 0, 0, 0}; }
};
