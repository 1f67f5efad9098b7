// Which project a tile list beside it belongs to, so that a run over the list can hold that
// project as a download of it would.
#pragma once

#include <string>
#include <vector>

// The project files beside listFile whose failed-tile lists it can be: NAME.qmtp for
// NAME_failed.ftl, NAME_verify.ftl and NAME_refresh_failed.ftl, when that file exists. Two at most
// ("A_refresh_failed.ftl" is the refresh list of A and the failed list of A_refresh); none for a
// list of another name or one away from its project.
std::vector<std::string> ProjectsOfList(const std::string& listFile);
