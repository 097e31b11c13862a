#include "model/ModTime.h"

#include <cstdio>
#include <ctime>

namespace
{
struct CCivil
{
    int64_t nYear;
    int nMonth, nDay, nHour, nMinute, nSecond;
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without
// the C library, whose time_t and tm limits vary.
CCivil CivilFromSeconds(int64_t nSeconds)
{
    int64_t nDays = nSeconds >= 0 ? nSeconds / 86400 : -((-nSeconds + 86399) / 86400);
    int64_t nRest = nSeconds - nDays * 86400;
    nDays += 719468;
    int64_t nEra = (nDays >= 0 ? nDays : nDays - 146096) / 146097;
    int64_t nDayOfEra = nDays - nEra * 146097;
    int64_t nYearOfEra = (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    int64_t nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    int64_t nMp = (5 * nDayOfYear + 2) / 153;
    CCivil civil{};
    civil.nDay = static_cast<int>(nDayOfYear - (153 * nMp + 2) / 5 + 1);
    civil.nMonth = static_cast<int>(nMp < 10 ? nMp + 3 : nMp - 9);
    civil.nYear = nYearOfEra + nEra * 400 + (civil.nMonth <= 2 ? 1 : 0);
    civil.nHour = static_cast<int>(nRest / 3600);
    civil.nMinute = static_cast<int>(nRest / 60 % 60);
    civil.nSecond = static_cast<int>(nRest % 60);
    return civil;
}

int64_t DaysFromCivil(int64_t nYear, int nMonth, int nDay)
{
    nYear -= nMonth <= 2 ? 1 : 0;
    int64_t nEra = (nYear >= 0 ? nYear : nYear - 399) / 400;
    int64_t nYearOfEra = nYear - nEra * 400;
    int64_t nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    int64_t nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    return nEra * 146097 + nDayOfEra - 719468;
}

// The local zone's offset from UTC at that instant, in seconds.
int64_t LocalOffset(int64_t nSeconds)
{
    time_t nTime = static_cast<time_t>(nSeconds);
    struct tm local{};
    if (localtime_r(&nTime, &local) == nullptr)
        return 0;
    return local.tm_gmtoff;
}

std::string FormatCivil(const CCivil& c, TimePrecision nPrecision, bool bSeconds)
{
    char szText[48];
    if (nPrecision == TimePrecision::day)
        std::snprintf(szText, sizeof(szText), "%04lld-%02d-%02d", static_cast<long long>(c.nYear),
                      c.nMonth, c.nDay);
    else if (bSeconds)
        std::snprintf(szText, sizeof(szText), "%04lld-%02d-%02d %02d:%02d:%02d",
                      static_cast<long long>(c.nYear), c.nMonth, c.nDay, c.nHour, c.nMinute,
                      c.nSecond);
    else
        std::snprintf(szText, sizeof(szText), "%04lld-%02d-%02d %02d:%02d",
                      static_cast<long long>(c.nYear), c.nMonth, c.nDay, c.nHour, c.nMinute);
    return szText;
}
} // namespace

int CompareModTimes(CModTime a, CModTime b)
{
    if (a.IsKnown() != b.IsKnown())
        return a.IsKnown() ? -1 : 1;
    if (!a.IsKnown())
        return 0;
    // Mixed zones (rare: a site lists one way) compare as shown.
    int64_t nA = a.IsZoneKnown() == b.IsZoneKnown() ? a.Seconds() : WallSeconds(a);
    int64_t nB = a.IsZoneKnown() == b.IsZoneKnown() ? b.Seconds() : WallSeconds(b);
    return nA == nB ? 0 : (nA < nB ? -1 : 1);
}

int64_t WallSeconds(CModTime t)
{
    if (!t.IsZoneKnown())
        return t.Seconds();
    return t.Seconds() + LocalOffset(t.Seconds());
}

std::string FormatModTime(CModTime t)
{
    if (!t.IsKnown())
        return {};
    return FormatCivil(CivilFromSeconds(WallSeconds(t)), t.Precision(), false);
}

std::string DescribeModTime(CModTime t)
{
    if (!t.IsKnown())
        return {};
    const char* pszPrecision = t.Precision() == TimePrecision::day      ? "精确到日"
                               : t.Precision() == TimePrecision::minute ? "精确到分"
                                                                        : "精确到秒";
    const char* pszZone = t.IsZoneKnown() ? "本地时间" : "服务器时间，时区未知";
    return FormatCivil(CivilFromSeconds(WallSeconds(t)), t.Precision(),
                       t.Precision() == TimePrecision::second) +
           "（" + pszPrecision + "，" + pszZone + "）";
}

std::string FormatModTimeIso(CModTime t)
{
    if (!t.IsKnown())
        return {};
    CCivil c = CivilFromSeconds(t.Seconds());
    char szText[48];
    if (t.Precision() == TimePrecision::day)
        std::snprintf(szText, sizeof(szText), "%04lld-%02d-%02d", static_cast<long long>(c.nYear),
                      c.nMonth, c.nDay);
    else
        std::snprintf(szText, sizeof(szText), "%04lld-%02d-%02dT%02d:%02d:%02d%s",
                      static_cast<long long>(c.nYear), c.nMonth, c.nDay, c.nHour, c.nMinute,
                      c.nSecond, t.IsZoneKnown() ? "Z" : "");
    return szText;
}

int64_t LocalWallToUtc(int64_t nWall)
{
    CCivil c = CivilFromSeconds(nWall);
    return LocalToSeconds(static_cast<int>(c.nYear), c.nMonth, c.nDay, c.nHour, c.nMinute) +
           c.nSecond;
}

int64_t NowSeconds()
{
    return static_cast<int64_t>(std::time(nullptr));
}

int64_t CivilToSeconds(int nYear, int nMonth, int nDay, int nHour, int nMinute)
{
    return DaysFromCivil(nYear, nMonth, nDay) * 86400 + nHour * 3600 + nMinute * 60;
}

int64_t LocalToSeconds(int nYear, int nMonth, int nDay, int nHour, int nMinute)
{
    struct tm local{};
    local.tm_year = nYear - 1900;
    local.tm_mon = nMonth - 1;
    local.tm_mday = nDay;
    local.tm_hour = nHour;
    local.tm_min = nMinute;
    local.tm_isdst = -1;
    time_t nTime = mktime(&local);
    if (nTime == static_cast<time_t>(-1))
    {
        int64_t nCivil = CivilToSeconds(nYear, nMonth, nDay, nHour, nMinute);
        return nCivil - LocalOffset(nCivil);
    }
    return nTime;
}
