// Local date and time text in the environment's LC_TIME format, without touching the C locale.
#include "platform/date_time.h"

#include <locale.h>
#include <time.h>

namespace qm {

std::string NowDateTimeText() {
  static const locale_t timeLocale = [] {
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    return loc != static_cast<locale_t>(nullptr) ? loc : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char buf[256];
  const size_t n = strftime_l(buf, sizeof buf, "%x %X", &local, timeLocale);
  return std::string(buf, n);
}

}  // namespace qm
