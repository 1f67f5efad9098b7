// quillmere-cli verify: every stored tile of a project, or of each level of a set, decoded; the
// damaged ones listed in NAME_verify.ftl for redownload.
#pragma once

#include <string>

#include "cli/cli_commands.h"

// 0 when every tile is sound, 3 when any is listed, 1 for a file that names no project or set,
// 5 for a file error.
int RunVerify(const std::string& file, const CliOptions& options);
