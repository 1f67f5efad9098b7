// Where the program finds its data files and keeps its settings, run from its build folder
// (everything beside the executable) or installed (executables in bin/, data in
// share/quillmere/, settings under the user's XDG configuration folder).
#pragma once

#include <string>

namespace qm {

// The folder that holds ini/, blankimg/ and help/: the executable's own folder when blankimg/
// is there, otherwise ../share/quillmere/ beside it when that exists. Ends with the separator.
std::string DataFolder();

// The settings file of a data folder: its ini/config.ini while that can be written (or created);
// otherwise $XDG_CONFIG_HOME/quillmere/config.ini (~/.config by default), first filled with a
// copy of the shipped file.
std::string ConfigFilePath(const std::string& dataFolder);

// The user's cache folder: $XDG_CACHE_HOME when it is absolute, else ~/.cache/. Ends with the
// separator.
std::string UserCacheFolder();

}  // namespace qm
