// The command line's own checks before a start.
#include "cli/start_checks.h"

#include "platform/errors.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

constexpr int32_t kHighestPort = 65535;

std::optional<std::string> ProxyPortProblem(const std::string& configFile) {
  const qm::IniFile config(configFile);
  if (config.ReadInteger("Proxy", "UseProxy", 0) != 1) return std::nullopt;
  const std::string text = config.ReadString("Proxy", "ProxyPort", "");
  const std::optional<int32_t> port = qm::IntegerFromText(text);
  const std::string where = " (ProxyPort in the [Proxy] section of " + configFile + ")";
  if (!port) return "The proxy port '" + text + "' is not a number" + where + ".";
  if (*port < 1 || *port > kHighestPort) return "The proxy port " + text + " is not between 1 and 65535" + where + ".";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> StartRefusal(const StartInputs& in, const std::string& configFile) {
  // The window's own text for a zoom field that is not a number.
  if (!qm::IntegerFromText(in.Zoom)) return qm::ErrorBoxText("'" + in.Zoom + "' is not a valid integer value");
  return ProxyPortProblem(configFile);
}
