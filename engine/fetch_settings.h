// What fetching tiles outside a download needs from the settings file: the tile server, and the
// proxy when it is on.
#pragma once

#include <optional>
#include <string>

#include "platform/http_client.h"

struct FetchSettings {
  std::string tileServer;
  std::optional<qm::ProxySettings> proxy;
};
// Throws std::runtime_error with a message for the user when the proxy port is not usable.
FetchSettings ReadFetchSettings(const std::string& configFile);
