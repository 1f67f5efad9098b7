// The local date and time as text, in the environment's short date and long time format.
#pragma once

#include <string>

namespace qm {

// Short date, a space, long time (LC_TIME of the environment), e.g. "12/07/26 20:19:53".
std::string NowDateTimeText();

}  // namespace qm
