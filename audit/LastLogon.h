// The report's last-logon text.
#pragma once

#include <cstdint>
#include <string>

namespace quorvix {

// "dd-mmm-yyyy hh:mm:ss": the seconds added to 1970-01-01 00:00:00 with no
// time-zone conversion; the month as the current locale abbreviates it.
std::u16string FormatLastLogon(uint32_t seconds);

}  // namespace quorvix
