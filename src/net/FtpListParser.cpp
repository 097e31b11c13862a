#include "net/FtpListParser.h"

#include <bit>
#include <chrono>
#include <cstring>

#include "net/FtpListTokens.h"

namespace
{
enum class ELine
{
    ENTRY,
    NOISE,
    UNREADABLE,
    // A VMS name alone on its line: the rest may follow on the next line.
    VMS_NAME,
};

// What earlier lines of a listing say about the lines that follow.
enum class EContext
{
    NONE,
    // Under an MVS member header a bare member name is an entry.
    MVS_MEMBERS,
    MVS_LOAD_MODULES,
};

constexpr uint64_t VMS_BLOCK = 512;

bool StartsWithNoCase(std::string_view str, std::string_view prefix)
{
    return str.size() >= prefix.size() && ListEqualsNoCase(str.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view str, std::string_view suffix)
{
    return str.size() >= suffix.size() &&
           ListEqualsNoCase(str.substr(str.size() - suffix.size()), suffix);
}

bool IsHexDigits(std::string_view str)
{
    if (str.empty())
        return false;
    for (char c : str)
        if (!IsListDigit(c) && !(ListLower(c) >= 'a' && ListLower(c) <= 'f'))
            return false;
    return true;
}

bool ParseHex(std::string_view str, uint64_t& n)
{
    if (!IsHexDigits(str) || str.size() > 15)
        return false;
    uint64_t nValue = 0;
    for (char c : str)
        nValue =
            nValue * 16 + static_cast<uint64_t>(IsListDigit(c) ? c - '0' : ListLower(c) - 'a' + 10);
    n = nValue;
    return true;
}

bool MultiplyChecked(uint64_t a, uint64_t b, uint64_t& n)
{
    return !__builtin_mul_overflow(a, b, &n);
}

// A byte count as ls prints it: "1234", or with -h "4.0K", "1,2M", "12G".
bool ParseListSize(std::string_view str, uint64_t& nSize)
{
    if (ListParseNumber(str, nSize))
        return true;
    if (str.size() < 2 || !IsListDigit(str[0]))
        return false;
    static constexpr char UNITS[] = "kmgtp";
    const char* pUnit = std::strchr(UNITS, ListLower(str.back()));
    if (pUnit == nullptr || *pUnit == '\0')
        return false;
    str.remove_suffix(1);
    uint64_t nWhole = 0;
    uint64_t nTenths = 0;
    size_t nPoint = str.find_first_of(".,");
    if (nPoint == std::string_view::npos)
    {
        if (!ListParseNumber(str, nWhole))
            return false;
    }
    else if (!ListParseNumber(str.substr(0, nPoint), nWhole) || nPoint + 2 != str.size() ||
             !IsListDigit(str[nPoint + 1]))
        return false;
    else
        nTenths = static_cast<uint64_t>(str[nPoint + 1] - '0');
    uint64_t nUnit = uint64_t{1} << (10 * (pUnit - UNITS + 1));
    uint64_t nValue = 0;
    uint64_t nFraction = nTenths * nUnit / 10;
    if (!MultiplyChecked(nWhole, nUnit, nValue) || nValue > UINT64_MAX - nFraction)
        return false;
    nSize = nValue + nFraction;
    return true;
}

// "01-21-20", "01/21/2020", "2020-01-21", "21.01.2020": a DOS/IIS date.
bool IsDosDate(std::string_view str, CListDate* pDate = nullptr)
{
    int values[3] = {};
    size_t lengths[3] = {};
    char cSeparator = 0;
    size_t nGroups = 0;
    size_t nDigits = 0;
    int nValue = 0;
    for (size_t i = 0; i <= str.size(); ++i)
    {
        if (i < str.size() && IsListDigit(str[i]))
        {
            if (++nDigits > 4)
                return false;
            nValue = nValue * 10 + (str[i] - '0');
            continue;
        }
        if (nDigits == 0 || nGroups == 3)
            return false;
        values[nGroups] = nValue;
        lengths[nGroups] = nDigits;
        ++nGroups;
        nDigits = 0;
        nValue = 0;
        if (i == str.size())
            break;
        if (str[i] != '-' && str[i] != '/' && str[i] != '.')
            return false;
        if (nGroups == 1)
            cSeparator = str[i];
    }
    if (nGroups != 3)
        return false;
    if (pDate != nullptr)
        SetListDate(values, lengths[0], lengths[2], cSeparator, *pDate);
    return true;
}

// AM/PM as English servers write it, or as a localized Windows writes it
// ("上午", "下午", "午前", "오후": non-ASCII bytes).
bool IsDayHalf(std::string_view str)
{
    if (ListEqualsNoCase(str, "am") || ListEqualsNoCase(str, "pm"))
        return true;
    if (str.size() < 2 || str.size() > 9)
        return false;
    for (char c : str)
        if (static_cast<unsigned char>(c) < 0x80)
            return false;
    return true;
}

// 12 for a half of the day after noon, 0 before, -1 when not known:
// English, and the words of Chinese, Japanese and Korean Windows in UTF-8
// and GBK.
int DayHalfOffset(std::string_view str)
{
    if (str.size() == 2 && (str[1] == 'M' || str[1] == 'm'))
    {
        char c = ListLower(str[0]);
        if (c == 'p' || c == 'a')
            return c == 'p' ? 12 : 0;
    }
    static constexpr std::string_view AFTERNOON[] = {"pm",
                                                     "p",
                                                     "\xe4\xb8\x8b\xe5\x8d\x88",
                                                     "\xe5\x8d\x88\xe5\xbe\x8c",
                                                     "\xec\x98\xa4\xed\x9b\x84",
                                                     "\xcf\xc2\xce\xe7"};
    static constexpr std::string_view MORNING[] = {"am",
                                                   "a",
                                                   "\xe4\xb8\x8a\xe5\x8d\x88",
                                                   "\xe5\x8d\x88\xe5\x89\x8d",
                                                   "\xec\x98\xa4\xec\xa0\x84",
                                                   "\xc9\xcf\xce\xe7"};
    for (std::string_view word : AFTERNOON)
        if (ListEqualsNoCase(str, word))
            return 12;
    for (std::string_view word : MORNING)
        if (ListEqualsNoCase(str, word))
            return 0;
    return -1;
}

// A time of day read with its half: 12 AM is midnight, 12 PM noon. A half
// this parser cannot tell keeps the date and drops the time.
void ApplyDayHalf(std::string_view half, CListDate& date)
{
    if (half.empty() || date.nHour < 0)
        return;
    int nOffset = DayHalfOffset(half);
    if (nOffset < 0 || date.nHour < 1 || date.nHour > 12)
    {
        date.nHour = -1;
        date.nSecond = -1;
        return;
    }
    date.nHour = date.nHour % 12 + nOffset;
}

// "02:35PM", "14:35", "2:35am", "12:00p", "02:35下午"; with pDate, the
// time of day.
bool IsDosTime(std::string_view str, CListDate* pDate = nullptr)
{
    size_t nEnd = str.size();
    while (nEnd > 0 && !IsListDigit(str[nEnd - 1]))
        --nEnd;
    std::string_view half = str.substr(nEnd);
    if (!half.empty() && !IsDayHalf(half) && !ListEqualsNoCase(half, "a") &&
        !ListEqualsNoCase(half, "p"))
        return false;
    str = str.substr(0, nEnd);
    size_t nStart = 0;
    while (nStart < str.size() && !IsListDigit(str[nStart]))
        ++nStart;
    if (nStart > 0 && !IsDayHalf(str.substr(0, nStart)))
        return false;
    if (pDate == nullptr)
        return IsListClock(str.substr(nStart));
    if (!ReadListClock(str.substr(nStart), *pDate))
        return false;
    ApplyDayHalf(!half.empty() ? half : str.substr(0, nStart), *pDate);
    return true;
}

// The type letter and nine permission letters of ls -l, with ACL and
// SELinux marks; "?" where ls could not read the entry.
bool IsUnixMode(std::string_view str)
{
    if (str.size() < 10 || str.size() > 12 || std::strchr("-dlbcpsDnw?", str[0]) == nullptr ||
        str[0] == '\0')
        return false;
    for (size_t i = 1; i < 10; ++i)
        if (str[i] == '\0' || std::strchr("rwxsStTlL-?", str[i]) == nullptr)
            return false;
    for (size_t i = 10; i < str.size(); ++i)
        if (str[i] == '\0' || std::strchr("+@.", str[i]) == nullptr)
            return false;
    return true;
}

// Plan 9: "d" or "-", then "a" (append only), "l" (exclusive) or "-",
// then the nine permission letters; the device fields follow.
bool IsPlan9Mode(std::string_view str)
{
    if (str.size() != 11 || (str[0] != 'd' && str[0] != '-') ||
        (str[1] != 'a' && str[1] != 'l' && str[1] != '-'))
        return false;
    for (size_t i = 2; i < 11; ++i)
        if (str[i] != 'r' && str[i] != 'w' && str[i] != 'x' && str[i] != '-')
            return false;
    return true;
}

// Octal permissions ("644") or a whole octal st_mode ("100644", "40755")
// that some servers print instead of the letters.
bool IsNumericMode(std::string_view str, char& cType)
{
    if (str.size() < 3 || str.size() > (str[0] == '0' ? 7u : 6u))
        return false;
    unsigned nMode = 0;
    for (char c : str)
    {
        if (c < '0' || c > '7')
            return false;
        nMode = nMode * 8 + static_cast<unsigned>(c - '0');
    }
    unsigned nFormat = str.size() >= 5 ? (nMode >> 12) & 017 : 010;
    cType = nFormat == 004 ? 'd' : nFormat == 012 ? 'l' : '-';
    return true;
}

bool IsTotalWord(std::string_view str)
{
    static constexpr std::string_view WORDS[] = {
        "total",
        "insgesamt",
        "totale",
        "totaal",
        "totalt",
        "razem",
        "celkem",
        "yhteens\xc3\xa4",
        "\xc3\xb6sszesen",
        "toplam",
        "\xd0\xb8\xd1\x82\xd0\xbe\xd0\xb3\xd0\xbe",
        "\xd0\xb2\xd1\x81\xd1\x8c\xd0\xbe\xd0\xb3\xd0\xbe",
        "\xe6\x80\xbb\xe7\x94\xa8\xe9\x87\x8f", // 总用量
        "\xe7\xb8\xbd\xe7\x94\xa8\xe9\x87\x8f", // 總用量
        "\xe5\x90\x88\xe8\xa8\x88",             // 合計
        "\xed\x95\xa9\xea\xb3\x84",             // 합계
    };
    for (std::string_view word : WORDS)
        if (ListEqualsNoCase(str, word))
            return true;
    return false;
}

// "." and ".." are noise; a name that is empty or holds a NUL cannot be
// a real entry.
ELine TakeEntry(std::string_view name, bool bDirectory, uint64_t nSize, CFtpListEntry& entry)
{
    if (name == "." || name == "..")
        return ELine::NOISE;
    if (name.empty() || name.find('\0') != std::string_view::npos)
        return ELine::UNREADABLE;
    entry.strName.assign(name.data(), name.size());
    entry.bDirectory = bDirectory;
    entry.nSize = bDirectory ? 0 : nSize;
    entry.nTime = 0;
    entry.nTimePrecision = EFtpTimePrecision::NONE;
    entry.bTimeZoneKnown = false;
    return ELine::ENTRY;
}

// False when the line is not MLSD facts at all.
constexpr int64_t SECONDS_PER_DAY = 86400;
// Beyond this, seconds since 1970 are no date of a file (and sums with
// them could overflow).
constexpr int64_t MAX_SECONDS = int64_t{1} << 40;

// A listing written on a server ahead of UTC shows its newest files up to
// about a day after the moment the listing was taken.
constexpr int64_t ZONE_SLACK = SECONDS_PER_DAY;

// The date's seconds, its year given; false when the date does not exist.
bool DateSeconds(const CListDate& date, int nYear, int64_t& nSeconds)
{
    using namespace std::chrono;
    year_month_day day{year{nYear}, month{static_cast<unsigned>(date.nMonth)},
                       std::chrono::day{static_cast<unsigned>(date.nDay)}};
    if (date.nDay > 28 && !day.ok())
        return false;
    nSeconds = static_cast<int64_t>(sys_days{day}.time_since_epoch().count()) * SECONDS_PER_DAY;
    if (date.nHour >= 0)
        nSeconds += date.nHour * 3600 + date.nMinute * 60 + (date.nSecond > 0 ? date.nSecond : 0);
    return true;
}

// The year of a date written without one: the latest that does not put it
// after the listing, so that ls's "recent" dates land in the months before.
bool InferYear(const CListDate& date, int64_t nListedAt, int64_t& nSeconds)
{
    using namespace std::chrono;
    if (nListedAt == CFtpListParser::LISTED_AT_UNKNOWN || nListedAt < -MAX_SECONDS ||
        nListedAt > MAX_SECONDS)
        return false;
    int64_t nLimit = nListedAt + ZONE_SLACK;
    sys_days limitDay = floor<days>(sys_seconds{seconds{nLimit}});
    int nYear = static_cast<int>(year_month_day{limitDay}.year());
    // Eight years back reach a February 29 even across 2100.
    for (int i = 0; i <= 8; ++i, --nYear)
        if (DateSeconds(date, nYear, nSeconds) && nSeconds <= nLimit)
            return true;
    return false;
}

// The entry's time from what its line gave; an impossible date gives none.
void ApplyDate(const CListDate& date, int64_t nListedAt, CFtpListEntry& entry)
{
    if (date.bEpoch)
    {
        if (date.nEpoch > MAX_SECONDS)
            return;
        entry.nTime = date.nEpoch;
        entry.nTimePrecision = EFtpTimePrecision::SECOND;
        entry.bTimeZoneKnown = true;
        return;
    }
    if (date.nMonth < 1 || date.nMonth > 12 || date.nDay < 1 || date.nDay > 31 || date.nYear < 0 ||
        date.nYear > 9999 || date.nHour > 23 || date.nMinute < 0 || date.nMinute > 59 ||
        date.nSecond > 60)
        return;
    int64_t nSeconds = 0;
    if (date.nYear == 0 ? !InferYear(date, nListedAt, nSeconds)
                        : !DateSeconds(date, date.nYear, nSeconds))
        return;
    entry.nTime = nSeconds;
    entry.nTimePrecision = date.nHour < 0     ? EFtpTimePrecision::DAY
                           : date.nSecond < 0 ? EFtpTimePrecision::MINUTE
                                              : EFtpTimePrecision::SECOND;
    entry.bTimeZoneKnown = date.bZoneKnown;
}
// Eight ASCII digits as four two-digit numbers, in bytes 0, 2, 4 and 6
// (little-endian: byte 0 from the first two); false unless all are
// digits. All eight at once: most MLSD lines carry a time.
bool ReadDigitPairs(uint64_t nBytes, uint64_t& nPairs)
{
    uint64_t d = nBytes - 0x3030303030303030ull;
    // A byte below '0' borrows and sets its top bit; one above '9' does
    // once 0x76 is added.
    if (((d | (d + 0x7676767676767676ull)) & 0x8080808080808080ull) != 0)
        return false;
    nPairs = (d * 10 + (d >> 8)) & 0x00ff00ff00ff00ffull;
    return true;
}

// YYYYMMDDHHMMSS, perhaps with a fraction of a second: always UTC, so it
// becomes seconds here; false when it is no time.
bool ReadMlsdTime(std::string_view value, int64_t& nSeconds)
{
    static_assert(std::endian::native == std::endian::little);
    if (value.size() < 14)
        return false;
    uint64_t nDay = 0;
    uint64_t nTime = 0x3030303030303030ull; // "HHMMSS" then two '0'
    std::memcpy(&nDay, value.data(), 8);
    std::memcpy(&nTime, value.data() + 8, 6);
    if (!ReadDigitPairs(nDay, nDay) || !ReadDigitPairs(nTime, nTime))
        return false;
    auto pair = [](uint64_t nPairs, int i)
    { return static_cast<int>((nPairs >> (16 * i)) & 0xff); };
    CListDate parts;
    parts.nMonth = pair(nDay, 2);
    parts.nDay = pair(nDay, 3);
    parts.nHour = pair(nTime, 0);
    parts.nMinute = pair(nTime, 1);
    parts.nSecond = pair(nTime, 2);
    return parts.nMonth >= 1 && parts.nMonth <= 12 && parts.nDay >= 1 && parts.nDay <= 31 &&
           parts.nHour <= 23 && parts.nMinute <= 59 && parts.nSecond <= 60 &&
           DateSeconds(parts, pair(nDay, 0) * 100 + pair(nDay, 1), nSeconds);
}

bool ParseMlsd(std::string_view line, CFtpListEntry& entry, ELine& result)
{
    // The facts hold no blank; the name follows the first space (a tab on
    // some servers). Older servers leave out the ";" before it.
    size_t nBlank = line.find(' ');
    size_t nTab = line.substr(0, nBlank).find('\t');
    if (nTab != std::string_view::npos)
        nBlank = nTab;
    if (nBlank == std::string_view::npos || nBlank == 0)
        return false;
    std::string_view facts = line.substr(0, nBlank);
    if (facts.find('=') == std::string_view::npos)
        return false;

    bool bKnown = false;
    bool bDirectory = false;
    bool bNoise = false;
    bool bTime = false;
    uint64_t nSize = 0;
    int64_t nTime = 0;
    size_t nPos = 0;
    while (nPos < facts.size())
    {
        size_t nEnd = facts.find(';', nPos);
        if (nEnd == std::string_view::npos)
            nEnd = facts.size();
        std::string_view fact = facts.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        if (fact.empty())
            continue;
        size_t nEqual = fact.find('=');
        if (nEqual == std::string_view::npos || nEqual == 0)
            return false;
        std::string_view key = fact.substr(0, nEqual);
        std::string_view value = fact.substr(nEqual + 1);
        if (ListEqualsLower(key, "type"))
        {
            bKnown = true;
            if (ListEqualsLower(value, "cdir") || ListEqualsLower(value, "pdir"))
                bNoise = true;
            // Links (OS.unix=slink:...) and device types count as files.
            bDirectory = ListEqualsLower(value, "dir");
        }
        else if (ListEqualsLower(key, "size"))
        {
            bKnown = true;
            uint64_t n = 0;
            if (ListParseNumber(value, n))
                nSize = n;
        }
        else if (ListEqualsLower(key, "modify"))
        {
            bKnown = true;
            bTime = ReadMlsdTime(value, nTime);
        }
        else if (!bKnown && (ListEqualsLower(key, "perm") || ListEqualsLower(key, "unique") ||
                             ListEqualsLower(key, "create") || ListEqualsLower(key, "sizd") ||
                             StartsWithNoCase(key, "unix.")))
            bKnown = true;
    }
    if (!bKnown)
        return false;
    result = bNoise ? ELine::NOISE : TakeEntry(line.substr(nBlank + 1), bDirectory, nSize, entry);
    if (result == ELine::ENTRY && bTime)
    {
        entry.nTime = nTime;
        entry.nTimePrecision = EFtpTimePrecision::SECOND;
        entry.bTimeZoneKnown = true;
    }
    return true;
}

// +i8388621.44468,m839956783,r,s10376,<tab>RFCEPLF
ELine ParseEplf(std::string_view line, CFtpListEntry& entry, CListDate& date)
{
    size_t nTab = line.find('\t');
    if (nTab == std::string_view::npos)
        return ELine::UNREADABLE;
    std::string_view facts = line.substr(1, nTab - 1);
    bool bDirectory = false;
    uint64_t nSize = 0;
    size_t nPos = 0;
    while (nPos < facts.size())
    {
        size_t nEnd = facts.find(',', nPos);
        if (nEnd == std::string_view::npos)
            nEnd = facts.size();
        std::string_view fact = facts.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        uint64_t nSeconds = 0;
        if (fact == "/")
            bDirectory = true;
        else if (!fact.empty() && fact[0] == 's' && !ListParseNumber(fact.substr(1), nSize))
            return ELine::UNREADABLE;
        else if (!fact.empty() && fact[0] == 'm' && ListParseNumber(fact.substr(1), nSeconds) &&
                 nSeconds <= static_cast<uint64_t>(INT64_MAX))
        {
            date.bEpoch = true;
            date.nEpoch = static_cast<int64_t>(nSeconds);
        }
    }
    return TakeEntry(line.substr(nTab + 1), bDirectory, nSize, entry);
}

// A size that ran into the group name when the group filled its column:
// "longgroup1234".
bool SplitJoinedSize(std::string_view str, uint64_t& nSize)
{
    size_t nDigits = str.size();
    while (nDigits > 0 && IsListDigit(str[nDigits - 1]))
        --nDigits;
    return nDigits > 0 && nDigits < str.size() && !IsListDigit(str[nDigits - 1]) &&
           ListParseNumber(str.substr(nDigits), nSize);
}

// "01-xyz-99", "2004/7/15": three groups joined by one separator, as a
// date is written whatever its month word.
bool IsDateShaped(std::string_view str)
{
    if (str.empty() || !IsListDigit(str.front()) || !IsListDigit(str.back()))
        return false;
    char cSeparator = 0;
    int nSeparators = 0;
    for (size_t i = 0; i < str.size(); ++i)
    {
        char c = str[i];
        if (c != '-' && c != '/' && c != '.')
            continue;
        if ((cSeparator != 0 && c != cSeparator) || IsListBlank(str[i - 1]) || str[i - 1] == c)
            return false;
        cSeparator = c;
        ++nSeparators;
    }
    return nSeparators == 2;
}

// "1,   3" (two fields) or "8,0": a device's numbers where the size stands.
bool IsDeviceNumbers(const CListTokens& tokens, size_t nSize)
{
    std::string_view size = tokens.Text(nSize);
    std::string_view before = tokens.Text(nSize - 1);
    if (before.size() > 1 && before.back() == ',' &&
        ListAllDigits(before.substr(0, before.size() - 1)) && ListAllDigits(size))
        return true;
    size_t nComma = size.find(',');
    return nComma != std::string_view::npos && ListAllDigits(size.substr(0, nComma)) &&
           ListAllDigits(size.substr(nComma + 1));
}

// The fields of ls -l after the mode (field nFirst - 1): links, owner,
// group, size, date, name; any of links, group and date may be missing.
ELine ParseUnixFields(const CListTokens& tokens, size_t nFirst, char cType, bool bNameAfterBlanks,
                      CFtpListEntry& entry, CListDate& date)
{
    std::string_view line = tokens.Line();
    size_t nCount = tokens.Count();
    size_t nLast = 0;
    size_t nDate = 0;
    uint64_t nSize = 0;
    bool bFound = false;

    // The size field right before the date decides, so that an owner
    // called "may" is not taken for a date. Most certain forms first.
    struct CPass
    {
        EDateForm form;
        bool bJoined;
    };
    static constexpr CPass PASSES[] = {
        {EDateForm::STRONG, false},
        {EDateForm::NUMERIC, false},
        {EDateForm::STRONG, true},
        {EDateForm::ANY_WORD, false},
    };
    for (const CPass& pass : PASSES)
    {
        for (size_t i = pass.bJoined ? nFirst + 2 : nFirst + 1; i < nCount && !bFound; ++i)
        {
            std::string_view sizeText = tokens.Text(i - 1);
            uint64_t n = 0;
            bool bSize = pass.bJoined ? SplitJoinedSize(sizeText, n) : ParseListSize(sizeText, n);
            if (!bSize && (pass.bJoined || !IsDeviceNumbers(tokens, i - 1)))
                continue;
            size_t nLength = MatchListDate(tokens, i, pass.form, &date);
            if (nLength == 0)
                continue;
            bFound = true;
            nDate = i;
            nLast = i + nLength - 1;
            nSize = n;
        }
        if (bFound)
            break;
    }

    size_t nNameStart = 0;
    if (bFound)
    {
        // ls separates the date from the name by one blank; further blanks
        // belong to the name. A lone numeric date ("2004.07.15") is padded
        // to the width of a date with a time, so its blanks are padding.
        nNameStart = tokens.End(nLast) + 1;
        if (bNameAfterBlanks || nLast == nDate)
            while (nNameStart < line.size() && IsListBlank(line[nNameStart]))
                ++nNameStart;
    }
    else if (tokens.Text(nFirst - 1).find('?') != std::string_view::npos)
    {
        // ls could not stat the entry: "?" for links, owner, group, size
        // and date; the name follows the last one.
        size_t i = nFirst;
        while (i < nCount && tokens.Text(i) == "?")
            ++i;
        if (i - nFirst < 3 || i >= nCount)
            return ELine::UNREADABLE;
        nNameStart = tokens.End(i - 1) + 1;
    }
    else
    {
        // No date at all: links, owner, group, size or links, owner, size.
        // A name that starts like a date is more likely a date this parser
        // does not know, so that line stays unread.
        for (size_t nSizeField : {nFirst + 3, nFirst + 2})
        {
            if (nSizeField + 1 >= nCount || !ListAllDigits(tokens.Text(nFirst)) ||
                !ParseListSize(tokens.Text(nSizeField), nSize))
                continue;
            bool bDateLike = (ClassifyDateField(tokens.Text(nSizeField + 1)) & DATE_MONTH) ||
                             IsDateShaped(tokens.Text(nSizeField + 1));
            for (size_t k = nSizeField + 1; k < nCount && k <= nSizeField + 3; ++k)
                if (ClassifyDateField(tokens.Text(k)) & (DATE_TIME | DATE_FULL | DATE_MONTHDAY))
                    bDateLike = true;
            if (bDateLike)
                return ELine::UNREADABLE;
            nNameStart = tokens.Start(nSizeField + 1);
            break;
        }
        if (nNameStart == 0)
            return ELine::UNREADABLE;
    }
    if (nNameStart >= line.size())
        return ELine::UNREADABLE;

    std::string_view name = line.substr(nNameStart);
    if (cType == 'l')
    {
        size_t nArrow = name.find(" -> ");
        if (nArrow != std::string_view::npos)
            name = name.substr(0, nArrow);
    }
    bool bDirectory = cType == 'd' || cType == 'D';
    bool bDevice = cType == 'c' || cType == 'b';
    return TakeEntry(name, bDirectory, bDevice ? 0 : nSize, entry);
}

// False when the fields are not DOS/IIS.
bool ParseDos(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    if (tokens.Count() < 4 || !IsDosDate(tokens.Text(0), &date))
        return false;
    size_t nField = 0;
    if (IsDosTime(tokens.Text(1), &date))
    {
        nField = IsDayHalf(tokens.Text(2)) ? 3 : 2;
        if (nField == 3)
            ApplyDayHalf(tokens.Text(2), date);
    }
    else if (IsDayHalf(tokens.Text(1)) && ReadListClock(tokens.Text(2), date))
    {
        nField = 3;
        ApplyDayHalf(tokens.Text(1), date);
    }
    else
        return false;
    if (nField + 1 >= tokens.Count())
        return false;

    std::string_view field = tokens.Text(nField);
    bool bDirectory = false;
    bool bLink = false;
    uint64_t nSize = 0;
    if (ListEqualsLower(field, "<dir>"))
        bDirectory = true;
    else if (ListEqualsNoCase(field, "<JUNCTION>") || StartsWithNoCase(field, "<SYMLINK"))
        bLink = true;
    else
    {
        // Some servers group digits: "1,234,567".
        char szDigits[24];
        size_t nDigits = 0;
        for (char c : field)
        {
            if (c == ',' || c == '.')
                continue;
            if (nDigits == sizeof szDigits)
                return false;
            szDigits[nDigits++] = c;
        }
        if (!ListParseNumber(std::string_view(szDigits, nDigits), nSize))
            return false;
    }

    std::string_view name = tokens.Rest(nField + 1);
    if (bLink && name.size() > 2 && name.back() == ']')
    {
        size_t nBracket = name.rfind(" [");
        if (nBracket != std::string_view::npos)
            name = name.substr(0, nBracket);
    }
    result = TakeEntry(name, bDirectory, nSize, entry);
    return true;
}

// 0100644   500  101   12345    123456789  name: the whole st_mode in C's
// octal notation, owner and group numbers, size, and the time in seconds
// since 1970.
bool ParseStatNumbers(const CListTokens& tokens, char cType, CFtpListEntry& entry, CListDate& date,
                      ELine& result)
{
    std::string_view mode = tokens.Text(0);
    if (tokens.Count() < 6 || mode.size() < 6 || mode[0] != '0')
        return false;
    for (size_t i = 1; i <= 4; ++i)
        if (!ListAllDigits(tokens.Text(i)))
            return false;
    uint64_t nSize = 0;
    uint64_t nSeconds = 0;
    if (!ListParseNumber(tokens.Text(3), nSize))
        return false;
    if (ListParseNumber(tokens.Text(4), nSeconds) && nSeconds <= static_cast<uint64_t>(INT64_MAX))
    {
        date.bEpoch = true;
        date.nEpoch = static_cast<int64_t>(nSeconds);
    }
    result = TakeEntry(tokens.Rest(5), cType == 'd', nSize, entry);
    return true;
}

// SIZE MONTH DAY, YEAR TIME NAME: an older VShell layout without
// permissions: "206876  Apr 04, 2000 21:06 name". A folder's name ends in
// "/", which no Windows name can hold.
bool ParseVShell(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    uint64_t nSize = 0;
    if (tokens.Count() < 5 || !ListParseNumber(tokens.Text(0), nSize) ||
        tokens.Text(2).back() != ',')
        return false;
    size_t nLength = MatchListDate(tokens, 1, EDateForm::STRONG, &date);
    if (nLength < 3 || 1 + nLength >= tokens.Count())
        return false;
    std::string_view name = tokens.Rest(1 + nLength);
    bool bDirectory = name.size() > 1 && name.back() == '/';
    if (bDirectory)
        name.remove_suffix(1);
    result = TakeEntry(name, bDirectory, nSize, entry);
    return true;
}

//  36611      A          05-12-97   16:44  README.TXT
bool ParseOs2(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    uint64_t nSize = 0;
    if (tokens.Count() < 4 || !ListParseNumber(tokens.Text(0), nSize))
        return false;
    bool bDirectory = false;
    for (size_t i = 1; i + 2 < tokens.Count() && i <= 3; ++i)
    {
        std::string_view field = tokens.Text(i);
        if (IsDosDate(field, &date))
        {
            if (!ReadListClock(tokens.Text(i + 1), date))
                return false;
            result = TakeEntry(tokens.Rest(i + 2), bDirectory, nSize, entry);
            return true;
        }
        if (field == "DIR")
            bDirectory = true;
        else if (field.size() > 4 || field.find_first_not_of("AHSR") != std::string_view::npos)
            return false;
    }
    return false;
}

//   0.0     06/10/28 1134    ------wr      28B       512 unix.o
bool ParseOs9(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    if (tokens.Count() < 7)
        return false;
    std::string_view owner = tokens.Text(0);
    size_t nDot = owner.find('.');
    std::string_view attributes = tokens.Text(3);
    uint64_t nSize = 0;
    if (nDot == std::string_view::npos || !ListAllDigits(owner.substr(0, nDot)) ||
        !ListAllDigits(owner.substr(nDot + 1)) ||
        !(ClassifyDateField(tokens.Text(1)) & DATE_FULL) || tokens.Text(2).size() != 4 ||
        !ListAllDigits(tokens.Text(2)) || attributes.size() != 8 ||
        attributes.find_first_not_of("dsewr-") != std::string_view::npos ||
        !IsHexDigits(tokens.Text(4)) || !ListParseNumber(tokens.Text(5), nSize))
        return false;
    // Year first: "06/10/28 1134".
    std::string_view day = tokens.Text(1);
    std::string_view time = tokens.Text(2);
    if (day.size() == 8 && day[2] == '/' && day[5] == '/')
    {
        date.nYear = 2000 + (day[0] - '0') * 10 + (day[1] - '0');
        if (date.nYear >= 2070)
            date.nYear -= 100;
        date.nMonth = (day[3] - '0') * 10 + (day[4] - '0');
        date.nDay = (day[6] - '0') * 10 + (day[7] - '0');
        date.nHour = (time[0] - '0') * 10 + (time[1] - '0');
        date.nMinute = (time[2] - '0') * 10 + (time[3] - '0');
    }
    result = TakeEntry(tokens.Rest(6), attributes[0] == 'd', nSize, entry);
    return true;
}

// VxWorks:     1028       JAN-01-2000 00:00:00   script.txt
//               512       JAN-01-2000 00:00:00   dir          <DIR>
bool ParseVxWorks(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    uint64_t nSize = 0;
    std::string_view day = tokens.Text(tokens.Count() > 1 ? 1 : 0);
    if (tokens.Count() < 4 || !ListParseNumber(tokens.Text(0), nSize) || day.size() != 11 ||
        day[3] != '-' || day[6] != '-' || !ListAllDigits(day.substr(4, 2)) ||
        !ListAllDigits(day.substr(7)) || !ReadListClock(tokens.Text(2), date))
        return false;
    date.nMonth = ListMonthNumber(day.substr(0, 3));
    date.nDay = (day[4] - '0') * 10 + (day[5] - '0');
    date.nYear =
        ((day[7] - '0') * 10 + (day[8] - '0')) * 100 + (day[9] - '0') * 10 + (day[10] - '0');
    std::string_view name = tokens.Rest(3);
    bool bDirectory =
        tokens.Count() > 4 && tokens.Text(tokens.Count() - 1) == "<DIR>" && !tokens.HasMore();
    if (bDirectory)
        name = name.substr(0, tokens.End(tokens.Count() - 2) - tokens.Start(3));
    result = TakeEntry(name, bDirectory, nSize, entry);
    return true;
}

// NAME.EXT;12 (ODS-2 and ODS-5 names), version 1 to 5 digits.
bool IsVmsName(std::string_view str)
{
    size_t nSemicolon = str.rfind(';');
    return nSemicolon != std::string_view::npos && nSemicolon > 0 &&
           str.size() - nSemicolon - 1 <= 5 && ListAllDigits(str.substr(nSemicolon + 1));
}

// "5-JUN-1995", "19-OCT-2000".
bool IsVmsDate(std::string_view str)
{
    size_t nDash = str.find('-');
    if (nDash == std::string_view::npos || nDash == 0 || nDash > 2 || str.size() < nDash + 7 ||
        str[nDash + 4] != '-')
        return false;
    std::string_view year = str.substr(nDash + 5);
    return ListAllDigits(str.substr(0, nDash)) && (year.size() == 2 || year.size() == 4) &&
           ListAllDigits(year) && ListMonthNumber(str.substr(nDash + 1, 3)) != 0;
}

// "10:30", "10:30:13", "10:30:13.64".
bool IsVmsTime(std::string_view str)
{
    size_t nDot = str.find('.');
    if (nDot != std::string_view::npos &&
        (nDot + 3 != str.size() || !ListAllDigits(str.substr(nDot + 1))))
        return false;
    return IsListClock(str.substr(0, nDot));
}

// From field i, a run of fields that opens with cOpen and closes with
// cClose ("[GROUP,SMITH]", "(RWED,RWED,RE,)"); i is moved past it.
bool SkipBracketed(const CListTokens& tokens, size_t& i, char cOpen, char cClose)
{
    if (i >= tokens.Count() || tokens.Text(i)[0] != cOpen)
        return true;
    while (i < tokens.Count() && tokens.Text(i).back() != cClose)
        ++i;
    if (i == tokens.Count())
        return false;
    ++i;
    return true;
}

// The fields after a VMS name, all of them: "1/3  5-JUN-1995 13:33:57
// [SMITH] (RWED,...)", with or without the used/allocated split, owner,
// protection or time; a size alone, a date alone; or a "%RMS-E-PRV"
// message where the server could not read the file's attributes.
bool ParseVmsTail(const CListTokens& tokens, size_t nFrom, uint64_t& nSize, CListDate& date)
{
    size_t nCount = tokens.Count();
    if (nFrom >= nCount || tokens.HasMore())
        return false;
    std::string_view field = tokens.Text(nFrom);
    nSize = 0;
    if (field[0] == '%')
        return true;
    size_t i = nFrom;
    uint64_t nBlocks = 0;
    if (!IsVmsDate(field))
    {
        size_t nSlash = field.find('/');
        if (!ListParseNumber(field.substr(0, nSlash), nBlocks) ||
            (nSlash != std::string_view::npos && !ListAllDigits(field.substr(nSlash + 1))))
            return false;
        ++i;
    }
    if (i < nCount)
    {
        if (!IsVmsDate(tokens.Text(i)) || !ReadListDateField(tokens.Text(i), date))
            return false;
        ++i;
        // Hundredths of a second are left out.
        if (i < nCount && IsVmsTime(tokens.Text(i)))
        {
            std::string_view time = tokens.Text(i);
            if (!ReadListClock(time.substr(0, time.find('.')), date))
                return false;
            ++i;
        }
    }
    if (!SkipBracketed(tokens, i, '[', ']') || !SkipBracketed(tokens, i, '(', ')') || i != nCount)
        return false;
    return MultiplyChecked(nBlocks, VMS_BLOCK, nSize);
}

// A folder is NAME.DIR;1 on VMS but is entered as NAME, so that is the
// name kept; files keep their version (NAME.EXT;2), which the server
// accepts back.
ELine TakeVmsEntry(std::string_view name, uint64_t nSize, CFtpListEntry& entry)
{
    size_t nSemicolon = name.rfind(';');
    std::string_view base = name.substr(0, nSemicolon);
    if (EndsWithNoCase(base, ".DIR") && base.size() > 4)
        return TakeEntry(base.substr(0, base.size() - 4), true, 0, entry);
    return TakeEntry(name, false, nSize, entry);
}

bool IsDsorg(std::string_view str)
{
    static constexpr std::string_view DSORGS[] = {"PS",  "PO", "PO-E", "PS-E", "PSU",  "POU", "DA",
                                                  "DAU", "IS", "ISU",  "VS",   "VSAM", "??"};
    for (std::string_view dsorg : DSORGS)
        if (str == dsorg)
            return true;
    return false;
}

// A data set is kept under the name listed, relative to the current
// high-level qualifier as the server takes it back; a partitioned data
// set (PO) is a folder of members.
bool ParseMvsDataSet(const CListTokens& tokens, CFtpListEntry& entry, ELine& result)
{
    size_t nCount = tokens.Count();
    if (tokens.HasMore() || nCount < 2)
        return false;
    std::string_view first = tokens.Text(0);
    std::string_view last = tokens.Text(nCount - 1);
    if (nCount == 2 && (first == "Migrated" || first == "VSAM"))
    {
        result = TakeEntry(last, false, 0, entry);
        return true;
    }
    if (nCount == 3 && first == "Pseudo" && tokens.Text(1) == "Directory")
    {
        result = TakeEntry(last, true, 0, entry);
        return true;
    }
    // A data set on tape: "V43525 Tape  NAME".
    if (nCount == 3 && tokens.Text(1) == "Tape" && first.size() <= 6)
    {
        result = TakeEntry(last, false, 0, entry);
        return true;
    }
    if (nCount == 6 && tokens.Text(1) == "Not" && tokens.Text(2) == "Direct")
    {
        result = TakeEntry(last, false, 0, entry);
        return true;
    }
    if (nCount < 4 || first.size() > 6 || !IsDsorg(tokens.Text(nCount - 2)))
        return false;
    bool bDate = false;
    for (size_t i = 1; i <= 2; ++i)
        if (tokens.Text(i) == "**NONE**" || (ClassifyDateField(tokens.Text(i)) & DATE_FULL))
            bDate = true;
    if (!bDate)
        return false;
    result = TakeEntry(last, tokens.Text(nCount - 2).substr(0, 2) == "PO", 0, entry);
    return true;
}

// "01.03": a member's version and modification level.
bool IsMvsVersion(std::string_view str)
{
    return str.size() == 5 && str[2] == '.' && ListAllDigits(str.substr(0, 2)) &&
           ListAllDigits(str.substr(3));
}

bool IsMemberName(std::string_view str)
{
    if (str.empty() || str.size() > 8)
        return false;
    for (char c : str)
        if (!IsListDigit(c) && !(ListLower(c) >= 'a' && ListLower(c) <= 'z') && c != '@' &&
            c != '#' && c != '$')
            return false;
    return true;
}

// NAME SIZE TTR [ALIAS-OF] AC ATTRIBUTES... AMODE RMODE: a load module
// (sizes and TTR in hex).
bool IsLoadModule(const CListTokens& tokens, uint64_t& nSize)
{
    size_t nCount = tokens.Count();
    if (nCount < 6 || tokens.HasMore() || tokens.Text(1).size() != 6 ||
        tokens.Text(2).size() != 6 || !ParseHex(tokens.Text(1), nSize) ||
        !IsHexDigits(tokens.Text(2)))
        return false;
    std::string_view amode = tokens.Text(nCount - 2);
    std::string_view rmode = tokens.Text(nCount - 1);
    return (amode == "24" || amode == "31" || amode == "64" || amode == "ANY") &&
           (rmode == "24" || rmode == "ANY");
}

// NAME VV.MM CREATED CHANGED TIME SIZE INIT MOD [ID]: a member with ISPF
// statistics (its size counts records, so none is kept).
bool IsSourceMember(const CListTokens& tokens)
{
    size_t nCount = tokens.Count();
    if ((nCount != 8 && nCount != 9) || !IsMvsVersion(tokens.Text(1)) ||
        !(ClassifyDateField(tokens.Text(2)) & DATE_FULL) ||
        !(ClassifyDateField(tokens.Text(3)) & DATE_FULL) || !IsListClock(tokens.Text(4)))
        return false;
    for (size_t i = 5; i < 8; ++i)
        if (!ListAllDigits(tokens.Text(i)))
            return false;
    return true;
}

// Members of a partitioned data set, known by the shape of their line, and
// under a member header also by their name alone.
bool ParseMvsMember(const CListTokens& tokens, EContext& context, CFtpListEntry& entry,
                    CListDate& date, ELine& result)
{
    if (!IsMemberName(tokens.Text(0)))
        return false;
    uint64_t nSize = 0;
    if (IsSourceMember(tokens))
    {
        context = EContext::MVS_MEMBERS;
        if (!ReadListDateField(tokens.Text(3), date) || !ReadListClock(tokens.Text(4), date))
            date.nMonth = 0;
        result = TakeEntry(tokens.Text(0), false, 0, entry);
        return true;
    }
    if (IsLoadModule(tokens, nSize))
    {
        context = EContext::MVS_LOAD_MODULES;
        result = TakeEntry(tokens.Text(0), false, nSize, entry);
        return true;
    }
    if (context == EContext::NONE || tokens.Count() != 1)
        return false;
    result = TakeEntry(tokens.Text(0), false, 0, entry);
    return true;
}

// OWNER SIZE DATE TIME *TYPE NAME. Folders end in "/" (or are of a folder
// type); a member is listed as FILE.FILE/MEMBER.MBR and kept under its
// last part, the name it has inside the file's folder.
bool ParseAs400(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    size_t nCount = tokens.Count();
    size_t nType = 0;
    uint64_t nSize = 0;
    if (nCount >= 3 && tokens.Text(1)[0] == '*')
        nType = 1;
    else if (nCount >= 6 && ListParseNumber(tokens.Text(1), nSize) &&
             IsDosDate(tokens.Text(2), &date) && ReadListClock(tokens.Text(3), date) &&
             tokens.Text(4)[0] == '*')
        nType = 4;
    else
        return false;
    std::string_view type = tokens.Text(nType);
    if (type.size() < 2 || type.size() > 10)
        return false;
    for (char c : type.substr(1))
        if (!(c >= 'A' && c <= 'Z') && !IsListDigit(c))
            return false;
    std::string_view name = tokens.Rest(nType + 1);
    bool bDirectory = type == "*DIR" || type == "*LIB" || type == "*FLR" || type == "*DDIR";
    if (!name.empty() && name.back() == '/')
    {
        bDirectory = true;
        name.remove_suffix(1);
    }
    size_t nSlash = name.rfind('/');
    if (nSlash != std::string_view::npos)
        name = name.substr(nSlash + 1);
    result = TakeEntry(name, bDirectory, nSize, entry);
    return true;
}

// NAME CODE EOF DATE TIME GROUP,USER "RWEP":
//   ALTLOG        101            1036  8-Jun-09 17:48:16 255,255 "oooo"
//   EDITFILE      101             528  6-Apr-07 14:21:18 255, 0 "nunu"
bool ParseNonStop(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    size_t nCount = tokens.Count();
    uint64_t nSize = 0;
    if (nCount < 6 || tokens.HasMore() || !ListAllDigits(tokens.Text(1)) ||
        !ListParseNumber(tokens.Text(2), nSize) || !IsVmsDate(tokens.Text(3)) ||
        !ReadListDateField(tokens.Text(3), date) || !ReadListClock(tokens.Text(4), date))
        return false;
    std::string_view owner = tokens.Text(5);
    size_t nComma = owner.find(',');
    if (nComma == std::string_view::npos || !ListAllDigits(owner.substr(0, nComma)))
        return false;
    size_t i = 6;
    if (nComma + 1 < owner.size())
    {
        if (!ListAllDigits(owner.substr(nComma + 1)))
            return false;
    }
    else if (i < nCount && ListAllDigits(tokens.Text(i)))
        ++i;
    else
        return false;
    if (i < nCount)
    {
        std::string_view rwep = tokens.Text(i);
        if (i + 1 != nCount || rwep.size() < 2 || rwep.front() != '"' || rwep.back() != '"')
            return false;
    }
    result = TakeEntry(tokens.Text(0), false, nSize, entry);
    return true;
}

// FN FT RECFM LRECL RECORDS BLOCKS DATE TIME [LABEL]. A CMS file is
// named FN.FT in FTP commands, so that is the name kept; a folder of the
// shared file system (FT "DIR") is entered as FN. Only fixed-length files
// have a known size.
bool ParseZvm(const CListTokens& tokens, CFtpListEntry& entry, CListDate& date, ELine& result)
{
    if (tokens.Count() < 8 || tokens.Count() > 9)
        return false;
    std::string_view format = tokens.Text(2);
    if (format != "F" && format != "V" && format != "-")
        return false;
    for (size_t i = 3; i <= 5; ++i)
        if (tokens.Text(i) != "-" && !ListAllDigits(tokens.Text(i)))
            return false;
    if (!(ClassifyDateField(tokens.Text(6)) & DATE_FULL) ||
        !ReadListDateField(tokens.Text(6), date) || !ReadListClock(tokens.Text(7), date))
        return false;
    std::string_view fn = tokens.Text(0);
    std::string_view ft = tokens.Text(1);
    if (ft == "DIR" && format == "-")
    {
        result = TakeEntry(fn, true, 0, entry);
        return true;
    }
    uint64_t nRecordLength = 0;
    uint64_t nRecords = 0;
    uint64_t nSize = 0;
    if (format == "F" && ListParseNumber(tokens.Text(3), nRecordLength) &&
        ListParseNumber(tokens.Text(4), nRecords) &&
        !MultiplyChecked(nRecordLength, nRecords, nSize))
        nSize = 0;
    std::string name;
    name.reserve(fn.size() + 1 + ft.size());
    name.append(fn).append(1, '.').append(ft);
    result = TakeEntry(name, false, nSize, entry);
    return true;
}

// Headers, footers and summaries of the families above, and "total"
// lines in ls's locales.
bool IsNoise(const CListTokens& tokens, EContext& context)
{
    size_t nCount = tokens.Count();
    if (nCount == 0)
        return true;
    std::string_view first = tokens.Text(0);
    std::string_view second = nCount > 1 ? tokens.Text(1) : std::string_view();
    uint64_t n = 0;
    if (nCount == 2 && IsTotalWord(first) && ParseListSize(second, n))
        return true;
    // VMS: "Directory DISK$USER:[SMITH]", "Total of 3 files, 8/12 blocks.",
    // "Grand total of 2 directories, 10 files, 100 blocks."
    // DOS dir: " Directory of C:\pub", " Volume in drive C is DATA".
    if ((first == "Directory" && (nCount == 2 || second == "of")) ||
        (first == "Total" && second == "of") || (first == "Grand" && second == "total"))
        return true;
    if (first == "Volume" && (second == "Unit" || second == "Referred" || second == "Date" ||
                              second == "in" || second == "Serial"))
        return true;
    if (ListAllDigits(first) && (second == "File(s)" || second == "Dir(s)"))
        return true;
    if (first == "Name" && second == "VV.MM")
    {
        context = EContext::MVS_MEMBERS;
        return true;
    }
    if (first == "Name" && second == "Size")
    {
        context = EContext::MVS_LOAD_MODULES;
        return true;
    }
    // HP NonStop "File  Code  EOF  Last Modification  Owner  RWEP"; OS-9
    // "Owner  Last modified  Attributes ..." and its dashed underline.
    // VxWorks "size  date  time  name".
    if ((first == "File" && second == "Code") || (first == "Owner" && second == "Last") ||
        (first == "size" && second == "date"))
        return true;
    for (size_t i = 0; i < nCount; ++i)
        if (tokens.Text(i).find_first_not_of('-') != std::string_view::npos)
            return false;
    return true;
}

ELine ParseAny(std::string_view line, CFtpListEntry& entry, EContext& context, CListDate& date)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    // STAT replies put one space before each line.
    if (line.size() > 1 && line[0] == ' ' && !IsListBlank(line[1]))
        line.remove_prefix(1);
    if (line.empty())
        return ELine::NOISE;
    // A family that fails may have read part of a date.
    auto fresh = [&date]() -> CListDate&
    {
        date = CListDate();
        return date;
    };
    if (line[0] == '+')
    {
        ELine result = ParseEplf(line, entry, fresh());
        if (result != ELine::UNREADABLE)
            return result;
    }
    ELine result = ELine::UNREADABLE;
    // An MLSD line leaves the date empty: it sets the entry's time itself.
    fresh();
    if (ParseMlsd(line, entry, result))
        return result;

    CListTokens tokens(line);
    if (tokens.Count() == 0)
        return ELine::NOISE;
    std::string_view first = tokens.Text(0);
    // A mode-like first field that gives nothing may still be a dashed
    // underline, so such lines end at the noise check.
    if (IsUnixMode(first) || IsPlan9Mode(first))
        result = ParseUnixFields(tokens, 1, first[0], false, entry, fresh());
    else if (tokens.Count() > 2 && (first == "d" || first == "-") && tokens.Text(1)[0] == '[' &&
             tokens.Text(1).back() == ']')
        result = ParseUnixFields(tokens, 2, first[0], true, entry, fresh());
    if (result != ELine::UNREADABLE)
        return result;
    if (IsListDigit(first[0]))
    {
        char cType = 0;
        if (ParseDos(tokens, entry, fresh(), result) || ParseOs2(tokens, entry, fresh(), result) ||
            ParseOs9(tokens, entry, fresh(), result) ||
            ParseVxWorks(tokens, entry, fresh(), result) ||
            ParseVShell(tokens, entry, fresh(), result))
            return result;
        // "  1234 -rw-r--r-- ...": ls -s puts the blocks before the mode.
        if (tokens.Count() > 1 && ListAllDigits(first) && IsUnixMode(tokens.Text(1)))
            return ParseUnixFields(tokens, 2, tokens.Text(1)[0], false, entry, fresh());
        if (IsNumericMode(first, cType))
        {
            if (ParseStatNumbers(tokens, cType, entry, fresh(), result))
                return result;
            result = ParseUnixFields(tokens, 1, cType, false, entry, fresh());
            if (result != ELine::UNREADABLE)
                return result;
        }
    }
    else
    {
        if (IsVmsName(first))
        {
            uint64_t nSize = 0;
            if (tokens.Count() == 1)
                return TakeVmsEntry(first, 0, entry) == ELine::ENTRY ? ELine::VMS_NAME
                                                                     : ELine::UNREADABLE;
            if (ParseVmsTail(tokens, 1, nSize, fresh()))
                return TakeVmsEntry(first, nSize, entry);
        }
        if (ParseMvsMember(tokens, context, entry, fresh(), result) ||
            ParseMvsDataSet(tokens, entry, result) || ParseAs400(tokens, entry, fresh(), result) ||
            ParseNonStop(tokens, entry, fresh(), result) ||
            ParseZvm(tokens, entry, fresh(), result))
            return result;
    }
    return IsNoise(tokens, context) ? ELine::NOISE : ELine::UNREADABLE;
}

} // namespace

bool CFtpListParser::ParseLine(std::string_view line, CFtpListEntry& entry, int64_t nListedAt)
{
    EContext context = EContext::NONE;
    CListDate date;
    ELine result = ParseAny(line, entry, context, date);
    if (result != ELine::ENTRY && result != ELine::VMS_NAME)
        return false;
    ApplyDate(date, nListedAt, entry);
    return true;
}

CFtpListing CFtpListParser::Parse(std::string_view listing, int64_t nListedAt)
{
    CFtpListing result;
    EContext context = EContext::NONE;
    CListDate date;
    CFtpListEntry pending; // a VMS name whose fields may follow
    bool bPending = false;
    size_t nStart = 0;
    while (nStart < listing.size())
    {
        size_t nEnd = listing.find('\n', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = listing.size();
        std::string_view line = listing.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;

        if (bPending)
        {
            bPending = false;
            uint64_t nSize = 0;
            std::string_view fields = line;
            if (!fields.empty() && fields.back() == '\r')
                fields.remove_suffix(1);
            date = CListDate();
            if (!fields.empty() && IsListBlank(fields[0]) &&
                ParseVmsTail(CListTokens(fields), 0, nSize, date))
            {
                pending.nSize = pending.bDirectory ? 0 : nSize;
                ApplyDate(date, nListedAt, pending);
                result.entries.push_back(std::move(pending));
                continue;
            }
            result.entries.push_back(std::move(pending));
        }
        // Parsed in place: most lines are entries.
        CFtpListEntry& entry = result.entries.emplace_back();
        switch (ParseAny(line, entry, context, date))
        {
        case ELine::ENTRY:
            // MLSD lines set their time themselves.
            if (date.nMonth != 0 || date.bEpoch)
                ApplyDate(date, nListedAt, entry);
            break;
        case ELine::VMS_NAME:
            pending = std::move(entry);
            bPending = true;
            result.entries.pop_back();
            break;
        case ELine::UNREADABLE:
            ++result.nUnreadable;
            result.entries.pop_back();
            break;
        case ELine::NOISE:
            result.entries.pop_back();
            break;
        }
    }
    if (bPending)
        result.entries.push_back(std::move(pending));
    return result;
}

std::vector<CFtpListEntry> CFtpListParser::ParseListing(std::string_view listing)
{
    return Parse(listing).entries;
}

int64_t ListedNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
