#include "LastLogon.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvix {

namespace {

constexpr std::array<const char16_t*, 12> kEnglishMonths = {
    u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};

#ifdef _WIN32
// The month's abbreviation in the user's own settings (Region in the Control
// Panel), as Windows programs show dates; the C library's locale there knows
// only English. A setting that gives nothing falls back to English.
std::u16string MonthAbbreviation(unsigned month) {
  wchar_t buf[80];
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT,
                                static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + (month - 1)), buf,
                                static_cast<int>(std::size(buf)));
  if (n <= 1) return kEnglishMonths[month - 1];
  return std::u16string(reinterpret_cast<const char16_t*>(buf), static_cast<std::size_t>(n - 1));
}
#else
// The month's abbreviation under the current LC_TIME. The wide-character
// call is used so that the answer does not depend on the locale's byte
// encoding; a locale that gives nothing, or text that is not valid Unicode,
// falls back to the English abbreviation.
std::u16string MonthAbbreviation(unsigned month) {
  std::tm tm{};
  tm.tm_year = 70;
  tm.tm_mon = static_cast<int>(month - 1);
  tm.tm_mday = 1;
  wchar_t buf[64];
  const std::size_t n = std::wcsftime(buf, sizeof buf / sizeof buf[0], L"%b", &tm);
  std::u16string out;
  bool valid = n > 0;
  for (std::size_t i = 0; valid && i < n; ++i) {
    const auto c = static_cast<char32_t>(buf[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      out += static_cast<char16_t>(c);  // already UTF-16
    } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      valid = false;
    } else if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  if (!valid || out.empty()) return kEnglishMonths[month - 1];
  return out;
}
#endif

void AppendTwoDigits(std::u16string& out, unsigned v) {
  out += static_cast<char16_t>(u'0' + v / 10 % 10);
  out += static_cast<char16_t>(u'0' + v % 10);
}

}  // namespace

CivilTime ToCivilTime(uint32_t seconds) {
  CivilTime t;
  const uint32_t days = seconds / 86400;
  const uint32_t rest = seconds % 86400;
  t.hour = rest / 3600;
  t.minute = rest / 60 % 60;
  t.second = rest % 60;

  // Days since 1970-01-01 to a civil date, counting in 400-year eras that
  // start on 1 March so that the leap day falls at the end of a year.
  const int64_t z = static_cast<int64_t>(days) + 719468;
  const int64_t era = z / 146097;  // z is never negative here
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  return t;
}

std::u16string FormatLastLogon(uint32_t seconds) {
  const CivilTime t = ToCivilTime(seconds);
  std::u16string out;
  out.reserve(24);
  AppendTwoDigits(out, t.day);
  out += u'-';
  out += MonthAbbreviation(t.month);
  out += u'-';
  AppendTwoDigits(out, static_cast<unsigned>(t.year) / 100);
  AppendTwoDigits(out, static_cast<unsigned>(t.year) % 100);
  out += u' ';
  AppendTwoDigits(out, t.hour);
  out += u':';
  AppendTwoDigits(out, t.minute);
  out += u':';
  AppendTwoDigits(out, t.second);
  return out;
}

std::string FormatIso8601(uint32_t seconds) {
  const CivilTime t = ToCivilTime(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02u:%02u:%02uZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

}  // namespace quorvix
