// quillmere-cli refresh: the stored tiles of a project, or of every begun level of a level set,
// asked again with conditional requests.
#pragma once

#include <optional>
#include <string>

#include "cli/cli_commands.h"

// Exit statuses as a download's: 0 every tile asked and none failed, 3 tiles failed (listed in
// NAME_refresh_failed.ftl), 4 the server refused us or the network failed, 2 stopped by a
// signal (the next refresh continues), 1 nothing to refresh, 5 a file could not be written.
int RunRefresh(const std::string& file, std::optional<int> olderThanDays, const CliOptions& options);
