// quillmere-verify (and quillmere-cli verify, which hands over to it): every stored tile of a
// project, or of each level of a set, decoded; the damaged ones listed in NAME_verify.ftl.
#pragma once

#include <string>

struct VerifyOptions {
  std::string configFile;  // the settings file: the tile server of the listed URLs
  std::string server;      // a saved server to take the URLs from; empty: the one chosen
  bool quiet = false;      // no summary lines
};

// 0 when every tile is sound, 3 when any is listed, 1 for a file that names no project or set, an
// unknown server, a project another run holds or one whose area file is gone or changed, 5 for a
// file error: the command line's statuses.
int RunVerify(const std::string& file, const VerifyOptions& options);
