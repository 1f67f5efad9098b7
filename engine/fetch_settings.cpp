// Reading the tile server and proxy of the settings file.
#include "engine/fetch_settings.h"

#include <stdexcept>
#include <utility>

#include "platform/ini_file.h"
#include "platform/text_format.h"

FetchSettings ReadFetchSettings(const std::string& configFile) {
  const qm::IniFile config(configFile);
  FetchSettings settings;
  ServerInUse server = ReadServerInUse(configFile);
  settings.tileServer = std::move(server.tileServer);
  settings.headers = std::move(server.headers);
  settings.maxZoom = server.maxZoom;
  settings.attribution = std::move(server.attribution);
  if (config.ReadInteger("Proxy", "UseProxy", 0) != 1) return settings;
  const std::string portText = config.ReadString("Proxy", "ProxyPort", "");
  const std::optional<int32_t> port = qm::IntegerFromText(portText);
  if (!port || *port < 1 || *port > 65535) {
    throw std::runtime_error("The proxy port \"" + portText + "\" of the settings is not a port number (1 to 65535).");
  }
  settings.proxy = qm::ProxySettings{config.ReadString("Proxy", "ProxyServer", ""), *port,
                                     config.ReadString("Proxy", "ProxyUsername", ""),
                                     config.ReadString("Proxy", "ProxyPassword", "")};
  return settings;
}
