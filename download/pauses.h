// The pauses of a download, in milliseconds. The program always uses these values; tests pass
// shortened ones.
#pragma once

struct DownloadPauses {
  int startStepMs = 100;       // times the worker index, before the first tile
  int afterStoredMs = 1000;    // after every stored tile
  int retryMs = 1000;          // before repeating after a refusal, not-found or other failure
  int socketRetryMs = 2000;    // before repeating after a socket error
  int addressInUseMs = 8000;   // before repeating after "address already in use" (10048)
  int retryAfterMsPerSecond = 1000;  // per second of a busy server's Retry-After

  static DownloadPauses Zero() { return {0, 0, 0, 0, 0, 0}; }
};
