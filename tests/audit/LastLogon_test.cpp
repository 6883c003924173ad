#include "LastLogon.h"

#include <gtest/gtest.h>

#include <clocale>
#ifdef _WIN32
#include <windows.h>
#endif
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace quorvix {
namespace {

// The C library's UTC calendar for t.
bool UtcCalendar(std::time_t t, std::tm& out) {
#ifdef _WIN32
  return gmtime_s(&out, &t) == 0;
#else
  return gmtime_r(&t, &out) != nullptr;
#endif
}

TEST(LastLogon, FormatsWithoutTimeZoneConversion) {
  EXPECT_EQ(FormatLastLogon(0), u"01-Jan-1970 00:00:00");
  EXPECT_EQ(FormatLastLogon(1016097165), u"14-Mar-2002 09:12:45");
  EXPECT_EQ(FormatLastLogon(951782400), u"29-Feb-2000 00:00:00");
  // 2100 is no leap year.
  EXPECT_EQ(FormatLastLogon(4107542399u), u"28-Feb-2100 23:59:59");
  EXPECT_EQ(FormatLastLogon(4107542400u), u"01-Mar-2100 00:00:00");
  // Seconds are unsigned: times after January 2038 are not read as 1901.
  EXPECT_EQ(FormatLastLogon(2147483648u), u"19-Jan-2038 03:14:08");
  EXPECT_EQ(FormatLastLogon(4294967295u), u"07-Feb-2106 06:28:15");
  EXPECT_EQ(FormatIso8601(1016097165), "2002-03-14T09:12:45Z");
  EXPECT_EQ(FormatIso8601(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(FormatIso8601(4294967295u), "2106-02-07T06:28:15Z");
}

TEST(LastLogon, CivilDateAgreesWithTheCLibraryOverTheWholeRange) {
  if (sizeof(std::time_t) < 8) GTEST_SKIP() << "32-bit time_t cannot represent the range";
  // Every day of the unsigned 32-bit range, at a time of day that moves.
  for (uint64_t s = 0; s <= 0xFFFFFFFFull; s += 86400 + 3607) {
    const auto seconds = static_cast<uint32_t>(s);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm ref{};
    ASSERT_TRUE(UtcCalendar(t, ref));
    const CivilTime c = ToCivilTime(seconds);
    ASSERT_EQ(c.year, ref.tm_year + 1900) << seconds;
    ASSERT_EQ(c.month, static_cast<unsigned>(ref.tm_mon + 1)) << seconds;
    ASSERT_EQ(c.day, static_cast<unsigned>(ref.tm_mday)) << seconds;
    ASSERT_EQ(c.hour, static_cast<unsigned>(ref.tm_hour)) << seconds;
    ASSERT_EQ(c.minute, static_cast<unsigned>(ref.tm_min)) << seconds;
    ASSERT_EQ(c.second, static_cast<unsigned>(ref.tm_sec)) << seconds;
  }
}

// Restores the time locale a test changed.
class TimeLocale {
 public:
  TimeLocale() : saved_(std::setlocale(LC_TIME, nullptr)) {}
  ~TimeLocale() { std::setlocale(LC_TIME, saved_.c_str()); }
  bool Use(const char* name) { return std::setlocale(LC_TIME, name) != nullptr; }

  // The German locale, compiled from the system's locale sources into a
  // folder of the test's own when it is not installed.
  bool UseGerman() {
    if (Use("de_DE.UTF-8") || Use("de_DE.utf8")) return true;
#ifndef _WIN32
    namespace fs = std::filesystem;
    if (!fs::exists("/usr/share/i18n/locales/de_DE")) return false;
    const fs::path dir = fs::temp_directory_path() / "quorvix-locale-test";
    fs::create_directories(dir);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    const bool ok = Use("de_DE.UTF-8");
    unsetenv("LOCPATH");
    return ok;
#else
    return false;
#endif
  }

 private:
  std::string saved_;
};

TEST(LastLogon, MonthFollowsTheTimeLocale) {
#ifdef _WIN32
  GTEST_SKIP() << "on Windows the month follows the user's settings, not the C library's locale";
#endif
  TimeLocale locale;
  ASSERT_TRUE(locale.Use("C"));
  EXPECT_EQ(FormatLastLogon(1009958400), u"02-Jan-2002 08:00:00");
  EXPECT_EQ(FormatLastLogon(945244800), u"15-Dec-1999 08:00:00");
  if (!locale.UseGerman()) GTEST_SKIP() << "no German locale installed or buildable";
  // German abbreviates March with an umlaut: the text must come through as Unicode.
  EXPECT_EQ(FormatLastLogon(1016097165), u"14-M\u00E4r-2002 09:12:45");
}

#ifdef _WIN32
TEST(LastLogon, MonthFollowsTheUsersSettingsOnWindows) {
  // The platform's own date formatting names the same month for the same day.
  constexpr uint32_t kFifteenthAtNoon2001[] = {979560000,  982238400,  984657600,  987336000,
                                               989928000,  992606400,  995198400,  997876800,
                                               1000555200, 1003147200, 1005825600, 1008417600};
  for (unsigned m = 1; m <= 12; ++m) {
    SYSTEMTIME st{};
    st.wYear = 2001;
    st.wMonth = static_cast<WORD>(m);
    st.wDay = 15;
    wchar_t buf[80];
    const int n = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, L"MMM", buf, 80, nullptr);
    ASSERT_GT(n, 1) << m;
    const std::u16string month(reinterpret_cast<const char16_t*>(buf),
                               static_cast<std::size_t>(n - 1));
    EXPECT_EQ(FormatLastLogon(kFifteenthAtNoon2001[m - 1]), u"15-" + month + u"-2001 12:00:00");
  }
}
#endif

}  // namespace
}  // namespace quorvix
