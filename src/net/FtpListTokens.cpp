#include "net/FtpListTokens.h"

#include <algorithm>
#include <vector>

bool IsListClock(std::string_view str)
{
    size_t nColon = str.find(':');
    if (nColon == std::string_view::npos || nColon == 0 || nColon > 2)
        return false;
    std::string_view rest = str.substr(nColon + 1);
    if (rest.size() == 5 && rest[2] == ':')
        return ListAllDigits(str.substr(0, nColon)) && ListAllDigits(rest.substr(0, 2)) &&
               ListAllDigits(rest.substr(3));
    return rest.size() == 2 && ListAllDigits(str.substr(0, nColon)) && ListAllDigits(rest);
}

CListTokens::CListTokens(std::string_view line) : m_line(line)
{
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && IsListBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        if (m_nCount == MAX_TOKENS)
        {
            m_bMore = true;
            break;
        }
        size_t nStart = i;
        while (i < line.size() && !IsListBlank(line[i]))
            ++i;
        m_tokens[m_nCount++] = CToken{nStart, i};
    }
}

namespace
{
// Abbreviated and full month names as ls prints them in the locales FTP
// servers run in (UTF-8; a few Latin-1 spellings of older servers), lower
// case, without the trailing dot some locales add, with their numbers.
struct CMonthName
{
    std::string_view name;
    int nMonth;

    bool operator<(const CMonthName& other) const { return name < other.name; }
};

const std::vector<CMonthName>& MonthNames()
{
    static const std::vector<CMonthName> s_names = []
    {
        std::vector<CMonthName> names = {
            // English
            {"jan", 1},
            {"feb", 2},
            {"mar", 3},
            {"apr", 4},
            {"may", 5},
            {"jun", 6},
            {"jul", 7},
            {"aug", 8},
            {"sep", 9},
            {"sept", 9},
            {"oct", 10},
            {"nov", 11},
            {"dec", 12},
            {"january", 1},
            {"february", 2},
            {"march", 3},
            {"april", 4},
            {"june", 6},
            {"july", 7},
            {"august", 8},
            {"september", 9},
            {"october", 10},
            {"november", 11},
            {"december", 12},
            // German, Austrian
            {"j\xc3\xa4n", 1},
            {"j\xc3\xa4nner", 1},
            {"m\xc3\xa4r", 3},
            {"m\xc3\xa4rz", 3},
            {"mrz", 3},
            {"mai", 5},
            {"juni", 6},
            {"juli", 7},
            {"okt", 10},
            {"dez", 12},
            {"januar", 1},
            {"februar", 2},
            {"oktober", 10},
            {"dezember", 12},
            {"m\xe4r", 3},
            {"m\xe4rz", 3},
            // French
            {"janv", 1},
            {"f\xc3\xa9vr", 2},
            {"f\xc3\xa9v", 2},
            {"mars", 3},
            {"avr", 4},
            {"juin", 6},
            {"juil", 7},
            {"ao\xc3\xbbt", 8},
            {"ao\xc3\xbb", 8},
            {"d\xc3\xa9\x63", 12},
            {"janvier", 1},
            {"f\xc3\xa9vrier", 2},
            {"avril", 4},
            {"juillet", 7},
            {"septembre", 9},
            {"octobre", 10},
            {"novembre", 11},
            {"d\xc3\xa9\x63\x65mbre", 12},
            {"f\xe9vr", 2},
            {"f\xe9v", 2},
            {"ao\xfbt", 8},
            {"d\xe9\x63", 12},
            // Spanish, Italian, Portuguese, Dutch, Scandinavian
            {"ene", 1},
            {"abr", 4},
            {"ago", 8},
            {"dic", 12},
            {"gen", 1},
            {"mag", 5},
            {"giu", 6},
            {"lug", 7},
            {"set", 9},
            {"ott", 10},
            {"fev", 2},
            {"out", 10},
            {"dez", 12},
            {"mrt", 3},
            {"mei", 5},
            {"maj", 5},
            {"des", 12},
            // Polish
            {"sty", 1},
            {"lut", 2},
            {"kwi", 4},
            {"cze", 6},
            {"lip", 7},
            {"sie", 8},
            {"wrz", 9},
            {"pa\xc5\xba", 10},
            {"lis", 11},
            {"gru", 12},
            // Hungarian
            {"febr", 2},
            {"m\xc3\xa1rc", 3},
            {"\xc3\xa1pr", 4},
            {"m\xc3\xa1j", 5},
            {"j\xc3\xban", 6},
            {"j\xc3\xbal", 7},
            {"szept", 9},
            // Czech
            {"led", 1},
            {"\xc3\xbano", 2},
            {"b\xc5\x99\x65", 3},
            {"dub", 4},
            {"kv\xc4\x9b", 5},
            {"\xc4\x8d\x65r", 6},
            {"\xc4\x8dvn", 6},
            {"\xc4\x8drc", 7},
            {"srp", 8},
            {"z\xc3\xa1\xc5\x99", 9},
            {"\xc5\x99\xc3\xadj", 10},
            {"pro", 12},
            // Finnish
            {"tammi", 1},
            {"helmi", 2},
            {"maalis", 3},
            {"huhti", 4},
            {"touko", 5},
            {"kes\xc3\xa4", 6},
            {"hein\xc3\xa4", 7},
            {"elo", 8},
            {"syys", 9},
            {"loka", 10},
            {"marras", 11},
            {"joulu", 12},
            {"tammikuu", 1},
            {"helmikuu", 2},
            {"maaliskuu", 3},
            {"huhtikuu", 4},
            {"toukokuu", 5},
            {"kes\xc3\xa4kuu", 6},
            {"hein\xc3\xa4kuu", 7},
            {"elokuu", 8},
            {"syyskuu", 9},
            {"lokakuu", 10},
            {"marraskuu", 11},
            {"joulukuu", 12},
            // Turkish
            {"oca", 1},
            {"\xc5\x9fub", 2},
            {"nis", 4},
            {"haz", 6},
            {"tem", 7},
            {"a\xc4\x9fu", 8},
            {"eyl", 9},
            {"eki", 10},
            {"kas", 11},
            {"ara", 12},
            // Russian, Ukrainian
            {"\xd1\x8f\xd0\xbd\xd0\xb2", 1},
            {"\xd1\x84\xd0\xb5\xd0\xb2", 2},
            {"\xd0\xbc\xd0\xb0\xd1\x80", 3},
            {"\xd0\xb0\xd0\xbf\xd1\x80", 4},
            {"\xd0\xbc\xd0\xb0\xd0\xb9", 5},
            {"\xd0\xbc\xd0\xb0\xd1\x8f", 5},
            {"\xd0\xb8\xd1\x8e\xd0\xbd", 6},
            {"\xd0\xb8\xd1\x8e\xd0\xbb", 7},
            {"\xd0\xb0\xd0\xb2\xd0\xb3", 8},
            {"\xd1\x81\xd0\xb5\xd0\xbd", 9},
            {"\xd0\xbe\xd0\xba\xd1\x82", 10},
            {"\xd0\xbd\xd0\xbe\xd1\x8f", 11},
            {"\xd0\xb4\xd0\xb5\xd0\xba", 12},
            {"\xd1\x81\xd1\x96\xd1\x87", 1},
            {"\xd0\xbb\xd1\x8e\xd1\x82", 2},
            {"\xd0\xb1\xd0\xb5\xd1\x80", 3},
            {"\xd0\xba\xd0\xb2\xd1\x96", 4},
            {"\xd1\x82\xd1\x80\xd0\xb0", 5},
            {"\xd1\x87\xd0\xb5\xd1\x80", 6},
            {"\xd0\xbb\xd0\xb8\xd0\xbf", 7},
            {"\xd1\x81\xd0\xb5\xd1\x80", 8},
            {"\xd0\xb2\xd0\xb5\xd1\x80", 9},
            {"\xd0\xb6\xd0\xbe\xd0\xb2", 10},
            {"\xd0\xbb\xd0\xb8\xd1\x81", 11},
            {"\xd0\xb3\xd1\x80\xd1\x83", 12},
        };
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end(),
                                [](const CMonthName& a, const CMonthName& b)
                                { return a.name == b.name; }),
                    names.end());
        return names;
    }();
    return s_names;
}
} // namespace

int ListMonthNumber(std::string_view field)
{
    if (!field.empty() && (field.back() == '.' || field.back() == ','))
        field.remove_suffix(1);
    char szLower[16];
    if (field.size() < 3 || field.size() > sizeof szLower)
        return 0;
    for (size_t i = 0; i < field.size(); ++i)
        szLower[i] = ListLower(field[i]);
    // Most listings are English: those twelve without a search.
    if (field.size() == 3)
    {
        static constexpr char ENGLISH[] = "janfebmaraprmayjunjulaugsepoctnovdec";
        for (int i = 0; i < 12; ++i)
            if (szLower[0] == ENGLISH[3 * i] && szLower[1] == ENGLISH[3 * i + 1] &&
                szLower[2] == ENGLISH[3 * i + 2])
                return i + 1;
    }
    const std::vector<CMonthName>& names = MonthNames();
    CMonthName key{std::string_view(szLower, field.size()), 0};
    auto it = std::lower_bound(names.begin(), names.end(), key);
    return it != names.end() && it->name == key.name ? it->nMonth : 0;
}

namespace
{
bool IsMonthName(std::string_view field)
{
    return ListMonthNumber(field) != 0;
}

// The marks CJK locales put after a date's numbers: UTF-8, then the
// two-byte forms of GBK and Shift_JIS (月 日 年) and EUC-KR (월 일 년).
enum EMark
{
    MARK_NONE,
    MARK_MONTH,
    MARK_DAY,
    MARK_YEAR,
};

struct CMark
{
    std::string_view bytes;
    EMark nKind;
};

constexpr CMark MARKS[] = {
    {"\xe6\x9c\x88", MARK_MONTH}, {"\xe6\x97\xa5", MARK_DAY}, {"\xe5\xb9\xb4", MARK_YEAR},
    {"\xec\x9b\x94", MARK_MONTH}, {"\xec\x9d\xbc", MARK_DAY}, {"\xeb\x85\x84", MARK_YEAR},
    {"\xd4\xc2", MARK_MONTH},     {"\xc8\xd5", MARK_DAY},     {"\xc4\xea", MARK_YEAR},
    {"\x8c\x8e", MARK_MONTH},     {"\x93\xfa", MARK_DAY},     {"\x94\x4e", MARK_YEAR},
    {"\xbf\xf9", MARK_MONTH},     {"\xc0\xcf", MARK_DAY},     {"\xb3\xe2", MARK_YEAR},
};

// The mark at the start of str, and its length in nLength.
EMark MarkAt(std::string_view str, size_t& nLength)
{
    // Every mark starts with a byte above ASCII.
    if (str.empty() || static_cast<unsigned char>(str[0]) < 0x80)
        return MARK_NONE;
    for (const CMark& mark : MARKS)
        if (str.substr(0, mark.bytes.size()) == mark.bytes)
        {
            nLength = mark.bytes.size();
            return mark.nKind;
        }
    return MARK_NONE;
}

// Two or three digit groups: "2020-01-21", "21.01.2020.", "01-21",
// "2003年4月18日".
unsigned ClassifyNumericDate(std::string_view field)
{
    size_t lengths[3] = {};
    unsigned values[3] = {};
    size_t nGroups = 0;
    char cFirstSeparator = 0;
    size_t i = 0;
    while (i < field.size())
    {
        if (nGroups == 3)
            return 0;
        size_t nStart = i;
        unsigned nValue = 0;
        while (i < field.size() && IsListDigit(field[i]))
        {
            nValue = nValue * 10 + static_cast<unsigned>(field[i] - '0');
            if (++i - nStart > 4)
                return 0;
        }
        if (i == nStart)
            return 0;
        lengths[nGroups] = i - nStart;
        values[nGroups] = nValue;
        ++nGroups;
        if (i == field.size())
            break;
        size_t nSeparator = 1;
        char c = field[i];
        if (c != '-' && c != '/' && c != '.' && MarkAt(field.substr(i), nSeparator) == MARK_NONE)
            return 0;
        if (nGroups == 1)
            cFirstSeparator = MarkAt(field.substr(i), nSeparator) == MARK_MONTH ? 'M' : c;
        i += nSeparator;
        // Only a whole date may end in its separator ("2010.01.21.", "…18日"),
        // or a month and day written with their marks ("3月20日").
        if (i == field.size() && nGroups != 3 &&
            !(nGroups == 2 && cFirstSeparator == 'M' && nSeparator > 1))
            return 0;
    }
    if (nGroups == 3)
    {
        bool bYear = lengths[0] == 4 || lengths[2] == 4;
        bool bShortYear = lengths[0] <= 2 && lengths[1] <= 2 && lengths[2] == 2;
        return (bYear || bShortYear) && lengths[1] <= 2 ? DATE_FULL : 0;
    }
    if (nGroups == 2 &&
        (cFirstSeparator == '-' || cFirstSeparator == '/' || cFirstSeparator == 'M') &&
        lengths[0] <= 2 && lengths[1] <= 2 && values[0] >= 1 && values[0] <= 12 && values[1] >= 1 &&
        values[1] <= 31)
        return DATE_MONTHDAY;
    return 0;
}

// "01-jun-99", "5-JUN-1995": day, month name, year.
bool IsDayMonthNameYear(std::string_view field)
{
    size_t nFirst = field.find('-');
    if (nFirst == std::string_view::npos || nFirst == 0 || nFirst > 2)
        return false;
    size_t nSecond = field.find('-', nFirst + 1);
    if (nSecond == std::string_view::npos)
        return false;
    std::string_view year = field.substr(nSecond + 1);
    return ListAllDigits(field.substr(0, nFirst)) && (year.size() == 2 || year.size() == 4) &&
           ListAllDigits(year) && IsMonthName(field.substr(nFirst + 1, nSecond - nFirst - 1));
}

// A run of letters standing for a month name the table lacks.
bool IsMonthWord(std::string_view field)
{
    if (field.size() < 2 || field.size() > 16)
        return false;
    for (char c : field)
        if (IsListDigit(c) || c == ':' || c == '/' || c == '-' || c == '\0')
            return false;
    return true;
}
} // namespace

unsigned ClassifyDateField(std::string_view field)
{
    if (field.empty())
        return 0;
    if (!IsListDigit(field[0]))
        return IsMonthName(field) ? DATE_MONTH : 0;
    size_t nDigits = 0;
    unsigned nValue = 0;
    while (nDigits < field.size() && IsListDigit(field[nDigits]))
    {
        if (nDigits < 5)
            nValue = nValue * 10 + static_cast<unsigned>(field[nDigits] - '0');
        ++nDigits;
    }
    std::string_view rest = field.substr(nDigits);
    bool bDay = nDigits <= 2 && nValue >= 1 && nValue <= 31;
    bool bMonth = nDigits <= 2 && nValue >= 1 && nValue <= 12;
    bool bYear = nDigits == 4;
    if (rest.empty())
        return (bDay ? DATE_DAY : 0u) | (bMonth ? DATE_NUMBER : 0u) | (bYear ? DATE_YEAR : 0u);
    if (rest[0] == ':')
        return IsListClock(field) ? DATE_TIME : 0;
    if (rest[0] == '-' && IsDayMonthNameYear(field))
        return DATE_FULL;
    if (rest == "." || rest == ",")
        return (bDay ? DATE_DAY : 0u) | (bYear ? DATE_YEAR : 0u);
    size_t nMark = 0;
    EMark nKind = MarkAt(rest, nMark);
    if (nKind != MARK_NONE && nMark == rest.size())
    {
        if (nKind == MARK_MONTH)
            return bMonth ? DATE_MONTH : 0;
        if (nKind == MARK_DAY)
            return bDay ? DATE_DAY : 0;
        return bYear ? DATE_YEAR : 0;
    }
    return ClassifyNumericDate(field);
}

namespace
{
// The number a field starts with ("21", "08,", "18日", "2010."), or -1.
int LeadingNumber(std::string_view field)
{
    int nValue = 0;
    size_t i = 0;
    for (; i < field.size() && IsListDigit(field[i]); ++i)
    {
        if (i == 4)
            return -1;
        nValue = nValue * 10 + (field[i] - '0');
    }
    return i == 0 ? -1 : nValue;
}

// Two-digit years as servers print them: 70 to 99 are the 1900s.
int FullYear(int nYear, size_t nDigits)
{
    if (nDigits > 2)
        return nYear;
    return nYear < 70 ? 2000 + nYear : 1900 + nYear;
}

int ReadYear(std::string_view field)
{
    size_t nDigits = 0;
    while (nDigits < field.size() && IsListDigit(field[nDigits]))
        ++nDigits;
    int nYear = LeadingNumber(field);
    return nYear < 0 ? 0 : FullYear(nYear, nDigits);
}

// "Jan", "janv.", "8月": 1 to 12, or 0.
int ReadMonth(std::string_view field)
{
    if (!field.empty() && IsListDigit(field[0]))
        return LeadingNumber(field);
    return ListMonthNumber(field);
}

// The field after a day: a time of day, or a year.
void ReadTimeOrYear(std::string_view field, CListDate& date)
{
    if (field.find(':') != std::string_view::npos)
    {
        if (!ReadListClock(field, date))
            date.nMonth = 0;
    }
    else
        date.nYear = ReadYear(field);
}
} // namespace

bool ReadListClock(std::string_view str, CListDate& date)
{
    // Written out rather than split and searched: this runs for nearly
    // every line of a listing.
    auto digit = [str](size_t i) { return static_cast<unsigned>(str[i]) - '0'; };
    size_t nColon = str.size() >= 4 && str[1] == ':' ? 1 : str.size() >= 5 && str[2] == ':' ? 2 : 0;
    if (nColon == 0)
        return false;
    size_t nRest = str.size() - nColon - 1;
    if (nRest != 2 && (nRest != 5 || str[nColon + 3] != ':'))
        return false;
    unsigned nHour = digit(0);
    if (nColon == 2)
        nHour = nHour * 10 + digit(1);
    unsigned m1 = digit(nColon + 1);
    unsigned m2 = digit(nColon + 2);
    if (digit(0) > 9 || (nColon == 2 && digit(1) > 9) || m1 > 9 || m2 > 9)
        return false;
    int nSecond = -1;
    if (nRest == 5)
    {
        unsigned s1 = digit(nColon + 4);
        unsigned s2 = digit(nColon + 5);
        if (s1 > 9 || s2 > 9)
            return false;
        nSecond = static_cast<int>(s1 * 10 + s2);
    }
    date.nHour = static_cast<int>(nHour);
    date.nMinute = static_cast<int>(m1 * 10 + m2);
    date.nSecond = nSecond;
    return true;
}

bool ReadListDateField(std::string_view field, CListDate& date)
{
    int values[3] = {};
    size_t lengths[3] = {};
    EMark nFirstMark = MARK_NONE;
    char cSeparator = 0;
    size_t nGroups = 0;
    size_t i = 0;
    while (i < field.size() && nGroups < 3)
    {
        size_t nStart = i;
        int nValue = 0;
        while (i < field.size() && IsListDigit(field[i]))
        {
            nValue = nValue * 10 + (field[i] - '0');
            if (++i - nStart > 4)
                return false;
        }
        if (i == nStart)
        {
            // "01-jun-99": a month name in the middle.
            if (nGroups != 1 || cSeparator != '-' || !IsDayMonthNameYear(field))
                return false;
            size_t nSecond = field.find('-', i);
            date.nDay = values[0];
            date.nMonth = ListMonthNumber(field.substr(i, nSecond - i));
            date.nYear = ReadYear(field.substr(nSecond + 1));
            return true;
        }
        values[nGroups] = nValue;
        lengths[nGroups] = i - nStart;
        if (i < field.size())
        {
            size_t nMark = 1;
            EMark nKind = static_cast<unsigned char>(field[i]) < 0x80
                              ? MARK_NONE
                              : MarkAt(field.substr(i), nMark);
            if (nGroups == 0)
            {
                cSeparator = field[i];
                nFirstMark = nKind;
            }
            i += nMark;
        }
        ++nGroups;
    }
    if (nGroups == 2)
    {
        date.nMonth = values[0];
        date.nDay = values[1];
        return true;
    }
    if (nGroups != 3)
        return false;
    SetListDate(values, nFirstMark == MARK_YEAR ? 4 : lengths[0], lengths[2], cSeparator, date);
    return true;
}

void SetListDate(const int values[3], size_t nFirstDigits, size_t nLastDigits, char cSeparator,
                 CListDate& date)
{
    if (nFirstDigits == 4)
    {
        date.nYear = values[0];
        date.nMonth = values[1];
        date.nDay = values[2];
        return;
    }
    bool bDayFirst = cSeparator == '.' || (values[0] > 12 && values[1] <= 12);
    date.nMonth = bDayFirst ? values[1] : values[0];
    date.nDay = bDayFirst ? values[0] : values[1];
    date.nYear = FullYear(values[2], nLastDigits);
}

size_t MatchListDate(const CListTokens& tokens, size_t i, EDateForm form, CListDate* pDate)
{
    // Which field holds what, for pDate.
    enum ELayout
    {
        ONE_FIELD,      // "2020-01-21" [time], "01-21" time-or-year
        MONTH_DAY,      // month day time-or-year [time]
        DAY_MONTH,      // day month time-or-year
        YEAR_MONTH_DAY, // year month day [time]
        NUMBERS,        // "1 21 12:00"
    };
    size_t nCount = tokens.Count();
    if (i >= nCount)
        return 0;
    auto classify = [&](size_t k) { return k < nCount ? ClassifyDateField(tokens.Text(k)) : 0u; };
    unsigned a = classify(i);
    size_t nLength = 0;
    ELayout nLayout = ONE_FIELD;
    switch (form)
    {
    case EDateForm::STRONG:
    {
        if (a & DATE_FULL)
        {
            nLength = (classify(i + 1) & DATE_TIME) ? 2 : 1;
            break;
        }
        if (a & DATE_MONTHDAY)
        {
            nLength = (classify(i + 1) & (DATE_TIME | DATE_YEAR)) ? 2 : 0;
            break;
        }
        if (!(a & (DATE_MONTH | DATE_DAY | DATE_YEAR)))
            return 0;
        unsigned b = classify(i + 1);
        unsigned c = classify(i + 2);
        // "Jan 21 12:00", "Oct 08, 2002", "8月 17日 08:52", "4月 18日 2003年";
        // a time after "Oct 08, 2002" belongs to that date.
        if ((a & DATE_MONTH) && (b & DATE_DAY) && (c & (DATE_TIME | DATE_YEAR)))
        {
            nLayout = MONTH_DAY;
            nLength =
                (c & DATE_YEAR) && tokens.Text(i + 1).back() == ',' && (classify(i + 3) & DATE_TIME)
                    ? 4
                    : 3;
        }
        // "21 Jan 12:00", "21. Jan 2019"
        else if ((a & DATE_DAY) && (b & DATE_MONTH) && (c & (DATE_TIME | DATE_YEAR)))
        {
            nLayout = DAY_MONTH;
            nLength = 3;
        }
        // "2005년 1월 6일", "2010. jan. 21." with or without a time. A bare
        // number first is more likely a size ("1000 2019 Jan 21 12:00"),
        // unless a month with its CJK mark follows ("2003   3월 20").
        else if ((a & DATE_YEAR) && (b & DATE_MONTH) && (c & DATE_DAY) &&
                 (!ListAllDigits(tokens.Text(i)) || IsListDigit(tokens.Text(i + 1)[0])))
        {
            nLayout = YEAR_MONTH_DAY;
            nLength = (classify(i + 3) & DATE_TIME) ? 4 : 3;
        }
        break;
    }
    case EDateForm::NUMERIC:
    {
        unsigned b = classify(i + 1);
        if ((a & DATE_DAY) && (b & DATE_DAY) && ((a | b) & DATE_NUMBER) &&
            (classify(i + 2) & (DATE_TIME | DATE_YEAR)))
        {
            nLayout = NUMBERS;
            nLength = 3;
        }
        break;
    }
    case EDateForm::ANY_WORD:
    {
        unsigned c = classify(i + 2);
        if (!(c & (DATE_TIME | DATE_YEAR)) || i + 1 >= nCount)
            return 0;
        if (IsMonthWord(tokens.Text(i)) && (classify(i + 1) & DATE_DAY))
        {
            nLayout = MONTH_DAY;
            nLength = 3;
        }
        else if ((a & DATE_DAY) && IsMonthWord(tokens.Text(i + 1)))
        {
            nLayout = DAY_MONTH;
            nLength = 3;
        }
        break;
    }
    }
    if (nLength == 0 || pDate == nullptr)
        return nLength;

    CListDate& date = *pDate;
    auto text = [&](size_t k) { return tokens.Text(i + k); };
    switch (nLayout)
    {
    case ONE_FIELD:
        if (!ReadListDateField(text(0), date))
            date.nMonth = 0;
        else if (nLength == 2)
            ReadTimeOrYear(text(1), date);
        break;
    case MONTH_DAY:
        date.nMonth = ReadMonth(text(0));
        date.nDay = LeadingNumber(text(1));
        ReadTimeOrYear(text(2), date);
        if (nLength == 4 && !ReadListClock(text(3), date))
            date.nMonth = 0;
        break;
    case DAY_MONTH:
        date.nDay = LeadingNumber(text(0));
        date.nMonth = ReadMonth(text(1));
        ReadTimeOrYear(text(2), date);
        break;
    case YEAR_MONTH_DAY:
        date.nYear = ReadYear(text(0));
        date.nMonth = ReadMonth(text(1));
        date.nDay = LeadingNumber(text(2));
        if (nLength == 4 && !ReadListClock(text(3), date))
            date.nMonth = 0;
        break;
    case NUMBERS:
    {
        // Month first unless the first number cannot be one.
        int nFirst = LeadingNumber(text(0));
        int nSecond = LeadingNumber(text(1));
        bool bDayFirst = nFirst > 12;
        date.nMonth = bDayFirst ? nSecond : nFirst;
        date.nDay = bDayFirst ? nFirst : nSecond;
        ReadTimeOrYear(text(2), date);
        break;
    }
    }
    return nLength;
}
