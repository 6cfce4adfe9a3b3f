#include "TimeStamp.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

namespace rtl {

namespace {

struct TSeparators {
    AnsiString Date = "/";
    AnsiString Time = ":";
};

TSeparators RegionalSeparators()
{
    TSeparators separators;
#ifdef _WIN32
    char buffer[8];
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, buffer, sizeof buffer) > 1)
        separators.Date = buffer;
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, sizeof buffer) > 1)
        separators.Time = buffer;
#endif
    return separators;
}

} // namespace

AnsiString FormatTimeStamp(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    const TSeparators sep = RegionalSeparators();
    return Format("%02d%s%02d%s%02d %02d%s%02d%s%02d %03d,", local.tm_year % 100, sep.Date.c_str(), local.tm_mon + 1,
                  sep.Date.c_str(), local.tm_mday, local.tm_hour, sep.Time.c_str(), local.tm_min, sep.Time.c_str(),
                  local.tm_sec, static_cast<int>(millis < 0 ? millis + 1000 : millis));
}

} // namespace rtl
