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
// case, without the trailing dot some locales add.
const std::vector<std::string_view>& MonthNames()
{
    static const std::vector<std::string_view> s_names = []
    {
        std::vector<std::string_view> names = {
            // English
            "jan",
            "feb",
            "mar",
            "apr",
            "may",
            "jun",
            "jul",
            "aug",
            "sep",
            "sept",
            "oct",
            "nov",
            "dec",
            "january",
            "february",
            "march",
            "april",
            "june",
            "july",
            "august",
            "september",
            "october",
            "november",
            "december",
            // German, Austrian
            "j\xc3\xa4n",
            "j\xc3\xa4nner",
            "m\xc3\xa4r",
            "m\xc3\xa4rz",
            "mrz",
            "mai",
            "juni",
            "juli",
            "okt",
            "dez",
            "januar",
            "februar",
            "oktober",
            "dezember",
            "m\xe4r",
            "m\xe4rz",
            // French
            "janv",
            "f\xc3\xa9vr",
            "f\xc3\xa9v",
            "mars",
            "avr",
            "juin",
            "juil",
            "ao\xc3\xbbt",
            "ao\xc3\xbb",
            "d\xc3\xa9\x63",
            "janvier",
            "f\xc3\xa9vrier",
            "avril",
            "juillet",
            "septembre",
            "octobre",
            "novembre",
            "d\xc3\xa9\x63\x65mbre",
            "f\xe9vr",
            "f\xe9v",
            "ao\xfbt",
            "d\xe9\x63",
            // Spanish, Italian, Portuguese, Dutch, Scandinavian
            "ene",
            "abr",
            "ago",
            "dic",
            "gen",
            "mag",
            "giu",
            "lug",
            "set",
            "ott",
            "fev",
            "out",
            "dez",
            "mrt",
            "mei",
            "maj",
            "des",
            // Polish
            "sty",
            "lut",
            "kwi",
            "cze",
            "lip",
            "sie",
            "wrz",
            "pa\xc5\xba",
            "lis",
            "gru",
            // Hungarian
            "febr",
            "m\xc3\xa1rc",
            "\xc3\xa1pr",
            "m\xc3\xa1j",
            "j\xc3\xban",
            "j\xc3\xbal",
            "szept",
            // Czech
            "led",
            "\xc3\xbano",
            "b\xc5\x99\x65",
            "dub",
            "kv\xc4\x9b",
            "\xc4\x8d\x65r",
            "\xc4\x8dvn",
            "\xc4\x8drc",
            "srp",
            "z\xc3\xa1\xc5\x99",
            "\xc5\x99\xc3\xadj",
            "pro",
            // Finnish
            "tammi",
            "helmi",
            "maalis",
            "huhti",
            "touko",
            "kes\xc3\xa4",
            "hein\xc3\xa4",
            "elo",
            "syys",
            "loka",
            "marras",
            "joulu",
            "tammikuu",
            "helmikuu",
            "maaliskuu",
            "huhtikuu",
            "toukokuu",
            "kes\xc3\xa4kuu",
            "hein\xc3\xa4kuu",
            "elokuu",
            "syyskuu",
            "lokakuu",
            "marraskuu",
            "joulukuu",
            // Turkish
            "oca",
            "\xc5\x9fub",
            "nis",
            "haz",
            "tem",
            "a\xc4\x9fu",
            "eyl",
            "eki",
            "kas",
            "ara",
            // Russian, Ukrainian
            "\xd1\x8f\xd0\xbd\xd0\xb2",
            "\xd1\x84\xd0\xb5\xd0\xb2",
            "\xd0\xbc\xd0\xb0\xd1\x80",
            "\xd0\xb0\xd0\xbf\xd1\x80",
            "\xd0\xbc\xd0\xb0\xd0\xb9",
            "\xd0\xbc\xd0\xb0\xd1\x8f",
            "\xd0\xb8\xd1\x8e\xd0\xbd",
            "\xd0\xb8\xd1\x8e\xd0\xbb",
            "\xd0\xb0\xd0\xb2\xd0\xb3",
            "\xd1\x81\xd0\xb5\xd0\xbd",
            "\xd0\xbe\xd0\xba\xd1\x82",
            "\xd0\xbd\xd0\xbe\xd1\x8f",
            "\xd0\xb4\xd0\xb5\xd0\xba",
            "\xd1\x81\xd1\x96\xd1\x87",
            "\xd0\xbb\xd1\x8e\xd1\x82",
            "\xd0\xb1\xd0\xb5\xd1\x80",
            "\xd0\xba\xd0\xb2\xd1\x96",
            "\xd1\x82\xd1\x80\xd0\xb0",
            "\xd1\x87\xd0\xb5\xd1\x80",
            "\xd0\xbb\xd0\xb8\xd0\xbf",
            "\xd1\x81\xd0\xb5\xd1\x80",
            "\xd0\xb2\xd0\xb5\xd1\x80",
            "\xd0\xb6\xd0\xbe\xd0\xb2",
            "\xd0\xbb\xd0\xb8\xd1\x81",
            "\xd0\xb3\xd1\x80\xd1\x83",
        };
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        return names;
    }();
    return s_names;
}

bool IsMonthName(std::string_view field)
{
    if (!field.empty() && (field.back() == '.' || field.back() == ','))
        field.remove_suffix(1);
    char szLower[16];
    if (field.size() < 3 || field.size() > sizeof szLower)
        return false;
    for (size_t i = 0; i < field.size(); ++i)
        szLower[i] = ListLower(field[i]);
    std::string_view lower(szLower, field.size());
    const std::vector<std::string_view>& names = MonthNames();
    return std::binary_search(names.begin(), names.end(), lower);
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
            cFirstSeparator = c;
        i += nSeparator;
        // Only a whole date may end in its separator ("2010.01.21.", "…18日").
        if (i == field.size() && nGroups != 3)
            return 0;
    }
    if (nGroups == 3)
    {
        bool bYear = lengths[0] == 4 || lengths[2] == 4;
        bool bShortYear = lengths[0] <= 2 && lengths[1] <= 2 && lengths[2] == 2;
        return (bYear || bShortYear) && lengths[1] <= 2 ? DATE_FULL : 0;
    }
    if (nGroups == 2 && (cFirstSeparator == '-' || cFirstSeparator == '/') && lengths[0] <= 2 &&
        lengths[1] <= 2 && values[0] >= 1 && values[0] <= 12 && values[1] >= 1 && values[1] <= 31)
        return DATE_MONTHDAY;
    return 0;
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

size_t MatchListDate(const CListTokens& tokens, size_t i, EDateForm form)
{
    size_t nCount = tokens.Count();
    if (i >= nCount)
        return 0;
    auto classify = [&](size_t k) { return k < nCount ? ClassifyDateField(tokens.Text(k)) : 0u; };
    unsigned a = classify(i);
    switch (form)
    {
    case EDateForm::STRONG:
    {
        if (a & DATE_FULL)
            return (classify(i + 1) & DATE_TIME) ? 2 : 1;
        if (a & DATE_MONTHDAY)
            return (classify(i + 1) & (DATE_TIME | DATE_YEAR)) ? 2 : 0;
        if (!(a & (DATE_MONTH | DATE_DAY | DATE_YEAR)))
            return 0;
        unsigned b = classify(i + 1);
        unsigned c = classify(i + 2);
        // "Jan 21 12:00", "Oct 08, 2002", "8月 17日 08:52", "4月 18日 2003年"
        if ((a & DATE_MONTH) && (b & DATE_DAY) && (c & (DATE_TIME | DATE_YEAR)))
            return 3;
        // "21 Jan 12:00", "21. Jan 2019"
        if ((a & DATE_DAY) && (b & DATE_MONTH) && (c & (DATE_TIME | DATE_YEAR)))
            return 3;
        // "2005년 1월 6일", "2010. jan. 21." with or without a time. A bare
        // number first is more likely a size: "1000 2019 Jan 21 12:00".
        if ((a & DATE_YEAR) && !ListAllDigits(tokens.Text(i)) && (b & DATE_MONTH) && (c & DATE_DAY))
            return (classify(i + 3) & DATE_TIME) ? 4 : 3;
        return 0;
    }
    case EDateForm::NUMERIC:
    {
        unsigned b = classify(i + 1);
        if ((a & DATE_DAY) && (b & DATE_DAY) && ((a | b) & DATE_NUMBER) &&
            (classify(i + 2) & (DATE_TIME | DATE_YEAR)))
            return 3;
        return 0;
    }
    case EDateForm::ANY_WORD:
    {
        unsigned c = classify(i + 2);
        if (!(c & (DATE_TIME | DATE_YEAR)) || i + 1 >= nCount)
            return 0;
        if (IsMonthWord(tokens.Text(i)) && (classify(i + 1) & DATE_DAY))
            return 3;
        if ((a & DATE_DAY) && IsMonthWord(tokens.Text(i + 1)))
            return 3;
        return 0;
    }
    }
    return 0;
}
