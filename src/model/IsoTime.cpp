#include "model/IsoTime.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace
{
// Exactly nDigits digits at *pstr, taken off it.
bool TakeNumber(std::string_view* pstr, size_t nDigits, int* pn)
{
    if (pstr->size() < nDigits)
        return false;
    int n = 0;
    for (size_t i = 0; i < nDigits; ++i)
    {
        char c = (*pstr)[i];
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    pstr->remove_prefix(nDigits);
    *pn = n;
    return true;
}

bool TakeChar(std::string_view* pstr, char c)
{
    if (pstr->empty() || pstr->front() != c)
        return false;
    pstr->remove_prefix(1);
    return true;
}

bool IsLeapYear(int nYear)
{
    return (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
}

int DaysInMonth(int nYear, int nMonth)
{
    static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return nMonth == 2 && IsLeapYear(nYear) ? 29 : DAYS[nMonth - 1];
}
} // namespace

std::string FormatIsoTime(CWallTime time, bool bMillis)
{
    using namespace std::chrono;
    auto nMs = duration_cast<milliseconds>(time.time_since_epoch()).count();
    auto nSeconds = static_cast<time_t>(nMs / 1000);
    int nMillis = static_cast<int>(nMs % 1000);
    if (nMillis < 0)
    {
        nMillis += 1000;
        --nSeconds;
    }
    std::tm tm{};
    gmtime_r(&nSeconds, &tm);
    char szText[80];
    if (bMillis)
        std::snprintf(szText, sizeof(szText), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                      tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec, nMillis);
    else
        std::snprintf(szText, sizeof(szText), "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return szText;
}

bool ParseIsoTime(std::string_view str, CWallTime* pTime)
{
    using namespace std::chrono;
    if (!str.empty() && str.find_first_not_of("0123456789") == std::string_view::npos)
    {
        int64_t nSeconds = 0;
        auto [p, ec] = std::from_chars(str.data(), str.data() + str.size(), nSeconds);
        if (ec != std::errc() || p != str.data() + str.size())
            return false;
        *pTime = CWallTime(seconds(nSeconds));
        return true;
    }

    std::tm tm{};
    int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0, nMillis = 0;
    if (!TakeNumber(&str, 4, &nYear) || !TakeChar(&str, '-') || !TakeNumber(&str, 2, &nMonth) ||
        !TakeChar(&str, '-') || !TakeNumber(&str, 2, &nDay))
        return false;
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > DaysInMonth(nYear, nMonth))
        return false;
    if (TakeChar(&str, 'T') || TakeChar(&str, 't') || TakeChar(&str, ' '))
    {
        if (!TakeNumber(&str, 2, &nHour) || !TakeChar(&str, ':') || !TakeNumber(&str, 2, &nMinute))
            return false;
        if (TakeChar(&str, ':'))
        {
            if (!TakeNumber(&str, 2, &nSecond))
                return false;
            if (TakeChar(&str, '.') || TakeChar(&str, ','))
            {
                // Fractions beyond milliseconds are read and dropped.
                size_t nDigits = 0;
                while (nDigits < str.size() && str[nDigits] >= '0' && str[nDigits] <= '9')
                {
                    if (nDigits < 3)
                        nMillis = nMillis * 10 + (str[nDigits] - '0');
                    ++nDigits;
                }
                if (nDigits == 0)
                    return false;
                for (size_t i = nDigits; i < 3; ++i)
                    nMillis *= 10;
                str.remove_prefix(nDigits);
            }
        }
        if (nHour > 23 || nMinute > 59 || nSecond > 60)
            return false;
    }
    tm.tm_year = nYear - 1900;
    tm.tm_mon = nMonth - 1;
    tm.tm_mday = nDay;
    tm.tm_hour = nHour;
    tm.tm_min = nMinute;
    tm.tm_sec = nSecond;

    time_t nSeconds = 0;
    if (str.empty())
    {
        tm.tm_isdst = -1;
        nSeconds = std::mktime(&tm);
    }
    else
    {
        int nOffset = 0;
        if (!TakeChar(&str, 'Z') && !TakeChar(&str, 'z'))
        {
            int nSign = TakeChar(&str, '+') ? 1 : (TakeChar(&str, '-') ? -1 : 0);
            int nOffsetHours = 0, nOffsetMinutes = 0;
            if (nSign == 0 || !TakeNumber(&str, 2, &nOffsetHours))
                return false;
            if (!str.empty())
            {
                TakeChar(&str, ':');
                if (!TakeNumber(&str, 2, &nOffsetMinutes))
                    return false;
            }
            if (nOffsetHours > 23 || nOffsetMinutes > 59)
                return false;
            nOffset = nSign * (nOffsetHours * 3600 + nOffsetMinutes * 60);
        }
        if (!str.empty())
            return false;
        nSeconds = timegm(&tm) - nOffset;
    }
    *pTime = CWallTime(seconds(nSeconds)) + milliseconds(nMillis);
    return true;
}
