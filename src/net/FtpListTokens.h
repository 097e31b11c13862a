#pragma once
// The blank-separated fields of one listing line, and the date forms that
// servers write into them. Shared by the listing parser's families: a date
// is recognised (to find where a name starts) and read into its parts.
//
// Threads: plain values and pure functions; any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline bool IsListBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline bool IsListDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline char ListLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Inline: called for every field of every line.
inline bool ListEqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ListLower(a[i]) != ListLower(b[i]))
            return false;
    return true;
}

inline bool ListAllDigits(std::string_view str)
{
    if (str.empty())
        return false;
    for (char c : str)
        if (!IsListDigit(c))
            return false;
    return true;
}

// The same as ListEqualsNoCase for a lower-case b, with half the work.
inline bool ListEqualsLower(std::string_view a, std::string_view lower)
{
    if (a.size() != lower.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ListLower(a[i]) != lower[i])
            return false;
    return true;
}

// Decimal digits to 64 bits; false on anything else or on overflow.
[[nodiscard]] inline bool ListParseNumber(std::string_view str, uint64_t& n)
{
    if (str.empty())
        return false;
    uint64_t nValue = 0;
    // Nineteen digits cannot overflow, so only longer numbers pay for the
    // check (a division per digit).
    bool bMayOverflow = str.size() > 19;
    for (char c : str)
    {
        if (!IsListDigit(c))
            return false;
        uint64_t nDigit = static_cast<uint64_t>(c - '0');
        if (bMayOverflow && nValue > (UINT64_MAX - nDigit) / 10)
            return false;
        nValue = nValue * 10 + nDigit;
    }
    n = nValue;
    return true;
}

// 1 to 12 for a month name of the locales servers run in ("Jan", "janv.",
// "Mär"), 0 for anything else.
int ListMonthNumber(std::string_view field);

// "12:00", "9:05", "12:00:59".
bool IsListClock(std::string_view str);

// A date as one listing line wrote it, before it becomes a time; parts
// left at their defaults were not written.
struct CListDate
{
    int nYear = 0;  // 0: no year ("Jan 21 12:00")
    int nMonth = 0; // 0: no date at all
    int nDay = 0;
    int nHour = -1; // -1: no time of day
    int nMinute = 0;
    int nSecond = -1; // -1: no seconds
    // The server said the time is UTC (MLSD).
    bool bZoneKnown = false;
    // A count of seconds since 1970 (UTC) instead of the parts above.
    bool bEpoch = false;
    int64_t nEpoch = 0;
};

// "12:00", "12:00:59" into the date's time of day.
[[nodiscard]] bool ReadListClock(std::string_view str, CListDate& date);
// A date in one field ("2020-01-21", "21.01.2020", "01-21-20", "01-jun-99",
// "2003年4月18日", "01-21"): numbers with "-" and "/" are month first
// unless the first cannot be a month, with "." day first.
[[nodiscard]] bool ReadListDateField(std::string_view field, CListDate& date);
// Three numbers of a date in the order written: year first when it has
// four digits, else as ReadListDateField orders them.
void SetListDate(const int values[3], size_t nFirstDigits, size_t nLastDigits, char cSeparator,
                 CListDate& date);

// The first MAX_TOKENS fields of a line; a name is taken from a field's
// start to the end of the line, so fields past the limit are never needed.
class CListTokens
{
public:
    static constexpr size_t MAX_TOKENS = 24;

    explicit CListTokens(std::string_view line);

    std::string_view Line() const { return m_line; }
    size_t Count() const { return m_nCount; }
    // More fields followed the last one kept.
    bool HasMore() const { return m_bMore; }
    size_t Start(size_t i) const { return m_tokens[i].nStart; }
    size_t End(size_t i) const { return m_tokens[i].nEnd; }
    std::string_view Text(size_t i) const
    {
        return m_line.substr(m_tokens[i].nStart, m_tokens[i].nEnd - m_tokens[i].nStart);
    }
    // From field i to the end of the line.
    std::string_view Rest(size_t i) const { return m_line.substr(m_tokens[i].nStart); }

private:
    struct CToken
    {
        size_t nStart;
        size_t nEnd;
    };
    std::string_view m_line;
    std::array<CToken, MAX_TOKENS> m_tokens;
    size_t m_nCount = 0;
    bool m_bMore = false;
};

// What one field can be within a date (several bits when ambiguous: "12").
constexpr unsigned DATE_MONTH = 1;     // "Jan", "janv.", "Mär", "8月", "1월"
constexpr unsigned DATE_DAY = 2;       // "21", "08,", "21.", "18日", "6일"
constexpr unsigned DATE_YEAR = 4;      // "2019", "2003年", "2005년", "2010."
constexpr unsigned DATE_TIME = 8;      // "12:00", "12:00:59"
constexpr unsigned DATE_FULL = 16;     // "2020-01-21", "21.01.2020", "9/24/99", "01-jun-99"
constexpr unsigned DATE_MONTHDAY = 32; // "01-21", "3月20日"
constexpr unsigned DATE_NUMBER = 64;   // a bare 1..12: a numeric month

unsigned ClassifyDateField(std::string_view field);

enum class EDateForm
{
    // Month names of the table, CJK marks, full numeric dates.
    STRONG,
    // Bare numbers for month and day: "1 21 12:00".
    NUMERIC,
    // Any word of letters as the month: a locale the table lacks.
    ANY_WORD,
};

// The number of fields of a date starting at field i (0: none there); with
// pDate, the date's parts too (a month word outside the table leaves the
// date without a month).
size_t MatchListDate(const CListTokens& tokens, size_t i, EDateForm form,
                     CListDate* pDate = nullptr);
