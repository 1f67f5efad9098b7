// Input the command line refuses before the download controller sees it: a zoom that is not a
// number, and a proxy port that every worker would fail on at once. The window lets both reach
// the controller; a script needs them as refused input, with the reason.
#pragma once

#include <optional>
#include <string>

#include "download/download_controller.h"

// Why the start is refused, or nothing.
std::optional<std::string> StartRefusal(const StartInputs& inputs, const std::string& configFile);
