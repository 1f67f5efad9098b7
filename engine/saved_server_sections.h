// The [Server NAME] sections of the settings file as text: read by the settings file's rules and
// replaced whole, every other line kept byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/saved_servers.h"

// Names of sections, keys and servers match without regard to case, as in the settings file.
bool SameServerName(std::string_view a, std::string_view b);
// The text without the blanks (spaces, tabs) at its ends.
std::string_view TrimBlanks(std::string_view text);

// The settings file's text; "" when there is no file. Throws qm::FileError / qm::FileTooLarge.
std::string ReadSettingsText(const std::string& configFile);
// Writes the text whole and atomically, owner-only when a saved server's header may hold a secret.
void WriteSettingsText(const std::string& configFile, const std::string& text);

// The servers of the text's [Server NAME] sections, in order; only the first section of a name and
// the first of duplicate keys count, as everywhere in the settings file.
std::vector<SavedServer> ServerSectionsOf(std::string_view text);
// The text with the section of the server named replacedName put in place of by server's (added at
// the end when there was none), or removed when server is null. CR LF line ends.
std::string WithServerSection(std::string_view text, std::string_view replacedName, const SavedServer* server);
