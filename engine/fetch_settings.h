// What fetching tiles outside a download needs from the settings file: the tile server in use (a
// saved server's template and headers, or the plain setting), and the proxy when it is on.
#pragma once

#include <optional>
#include <string>

#include "engine/saved_servers.h"
#include "platform/http_client.h"

struct FetchSettings {
  std::string tileServer;
  std::optional<qm::ProxySettings> proxy;
  RequestHeaders headers{};  // for every request's client (HttpClient::SetHeaders); none for a plain host
  int32_t maxZoom = kHighestServerZoom;
  std::string attribution{};
};
// Throws std::runtime_error with a message for the user when the proxy port is not usable or the
// chosen server is not saved (UnknownServer).
FetchSettings ReadFetchSettings(const std::string& configFile);
