// The report's last-logon text.
#pragma once

#include <cstdint>
#include <string>

namespace quorvix {

// "dd-mmm-yyyy hh:mm:ss": the seconds added to 1970-01-01 00:00:00 with no
// time-zone conversion; the month as the current locale abbreviates it.
std::u16string FormatLastLogon(uint32_t seconds);

// The calendar date and time of a count of seconds since 1970-01-01 00:00:00,
// with no time-zone conversion (proleptic Gregorian calendar).
struct CivilTime {
  int year = 1970;
  unsigned month = 1;  // 1..12
  unsigned day = 1;    // 1..31
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
};
CivilTime ToCivilTime(uint32_t seconds);

// "yyyy-mm-ddThh:mm:ssZ" (ISO 8601, UTC), for machine-readable reports.
std::string FormatIso8601(uint32_t seconds);

}  // namespace quorvix
