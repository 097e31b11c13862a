// Reads the query language. The grammar, loosest binding first:
//
//   query   = blank* [ and ] blank*            empty: everything
//   and     = or { blank+ or }                 all must match
//   or      = unary { blank* "|" blank* unary } any may match
//   unary   = "!" unary | "<" blank* and blank* ">" | term
//   term    = { modifier } [ filter | word ]
//
// Samples:  linux iso    *.iso    "a b|c"    <iso|img> !beta
//           ext:iso;img  size:>700M  size:1M..10M  case:README
//           path:pub/linux  folder:  site:mirror  unread:  regex:^v\d+
//           dm:today  dm:7d  dm:2026-12  dm:>2026-01-01  dm:2026-01..2026-06
//
// Modifiers (case:, path:, file:, folder:, unread:) apply to the word or
// filter after them; file:, folder: and unread: also stand alone. Filters
// are declared once in FILTERS below (name, how the argument is read, what
// it becomes), so a new one is one row.

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "search/NameFold.h"
#include "search/Query.h"
#include "search/QueryTerms.h"

namespace
{
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Ends an unquoted word.
bool IsWordEnd(char c)
{
    return IsBlank(c) || c == '|' || c == '<' || c == '>';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string AsciiLower(std::string_view text)
{
    std::string str(text);
    for (char& c : str)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return str;
}

// Modifiers a term carries.
struct CModifiers
{
    bool bCase = false;
    bool bPath = false;
    bool bFile = false;
    bool bFolder = false;
    bool bUnread = false;
    size_t nCaseOrPathAt = 0; // where case: or path: was written

    bool Any() const { return bCase || bPath || bFile || bFolder || bUnread; }
    bool TextOnly() const { return bCase || bPath; }
};

class CParser;

// How a filter's argument is read.
enum class ArgStyle
{
    word,       // up to a blank, "|", "<" or ">"; quotes keep those
    comparison, // leading "<", ">", "=" belong to it, then as word
    rest,       // up to a blank; quotes keep blanks
};

using FilterFn = std::unique_ptr<CQueryTerm> (*)(CParser& parser, const std::string& strArg,
                                                 size_t nArgAt, const CModifiers& mods);

struct CFilterRule
{
    const char* pszName;
    ArgStyle nStyle;
    bool bTakesCaseOrPath; // case: and path: may come before it
    FilterFn fnMake;
};

std::unique_ptr<CQueryTerm> MakeExt(CParser& parser, const std::string& strArg, size_t nArgAt,
                                    const CModifiers& mods);
// A size: or dm: value as its leading run of "<", ">" and "=" (the
// comparison; a run that is none of "<", "<=", ">", ">=", "=" is refused by
// the caller) and the rest.
std::pair<std::string_view, std::string_view> SplitComparison(std::string_view arg)
{
    size_t n = arg.find_first_not_of("<>=");
    if (n == std::string_view::npos)
        n = arg.size();
    return {arg.substr(0, n), arg.substr(n)};
}

std::unique_ptr<CQueryTerm> MakeSize(CParser& parser, const std::string& strArg, size_t nArgAt,
                                     const CModifiers& mods);
std::unique_ptr<CQueryTerm> MakeSite(CParser& parser, const std::string& strArg, size_t nArgAt,
                                     const CModifiers& mods);
std::unique_ptr<CQueryTerm> MakeRegex(CParser& parser, const std::string& strArg, size_t nArgAt,
                                      const CModifiers& mods);
std::unique_ptr<CQueryTerm> MakeDate(CParser& parser, const std::string& strArg, size_t nArgAt,
                                     const CModifiers& mods);

const CFilterRule FILTERS[] = {
    {"ext", ArgStyle::word, false, MakeExt},
    {"size", ArgStyle::comparison, false, MakeSize},
    {"site", ArgStyle::word, false, MakeSite},
    {"regex", ArgStyle::rest, true, MakeRegex},
    {"dm", ArgStyle::comparison, false, MakeDate},
};

const char* const MODIFIERS[] = {"case", "path", "file", "folder", "unread"};

class CParser
{
public:
    explicit CParser(std::string_view text) : m_text(text) {}

    bool Parse(CQueryNode* pRoot)
    {
        SkipBlanks();
        if (AtEnd())
        {
            pRoot->m_nKind = CQueryNode::all;
            return true;
        }
        auto pNode = ParseAnd();
        if (pNode == nullptr)
            return false;
        SkipBlanks();
        if (!AtEnd())
            return Fail(QueryErrorKind::strayGroupEnd, m_nPos); // only ">" stops "and"
        *pRoot = std::move(*pNode);
        return true;
    }

    bool Fail(QueryErrorKind nKind, size_t nAt, std::string strDetail = {})
    {
        if (!m_bFailed)
        {
            m_bFailed = true;
            m_error.nKind = nKind;
            m_error.nColumn = Column(nAt);
            m_error.strDetail = std::move(strDetail);
        }
        return false;
    }

    const CQueryError& Error() const { return m_error; }

private:
    bool AtEnd() const { return m_nPos >= m_text.size(); }
    char Peek() const { return m_text[m_nPos]; }

    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(Peek()))
            ++m_nPos;
    }

    // Characters (not bytes) before nAt, plus one.
    size_t Column(size_t nAt) const
    {
        size_t nColumn = 1;
        for (size_t i = 0; i < nAt && i < m_text.size(); ++i)
        {
            if ((static_cast<unsigned char>(m_text[i]) & 0xC0) != 0x80)
                ++nColumn;
        }
        return nColumn;
    }

    static std::unique_ptr<CQueryNode> Combine(CQueryNode::Kind nKind,
                                               std::vector<std::unique_ptr<CQueryNode>> parts)
    {
        if (parts.size() == 1)
            return std::move(parts[0]);
        auto pNode = std::make_unique<CQueryNode>();
        pNode->m_nKind = nKind;
        pNode->m_children = std::move(parts);
        return pNode;
    }

    static std::unique_ptr<CQueryNode> Leaf(std::unique_ptr<CQueryTerm> pTerm)
    {
        auto pNode = std::make_unique<CQueryNode>();
        pNode->m_nKind = CQueryNode::term;
        pNode->m_pTerm = std::move(pTerm);
        return pNode;
    }

    std::unique_ptr<CQueryNode> ParseAnd()
    {
        std::vector<std::unique_ptr<CQueryNode>> parts;
        while (true)
        {
            auto pPart = ParseOr();
            if (pPart == nullptr)
                return nullptr;
            parts.push_back(std::move(pPart));
            SkipBlanks();
            if (AtEnd() || Peek() == '>')
                break;
        }
        return Combine(CQueryNode::andNode, std::move(parts));
    }

    std::unique_ptr<CQueryNode> ParseOr()
    {
        std::vector<std::unique_ptr<CQueryNode>> parts;
        while (true)
        {
            auto pPart = ParseUnary();
            if (pPart == nullptr)
                return nullptr;
            parts.push_back(std::move(pPart));
            size_t nSave = m_nPos;
            SkipBlanks();
            if (AtEnd() || Peek() != '|')
            {
                m_nPos = nSave;
                break;
            }
            ++m_nPos;
            SkipBlanks();
        }
        return Combine(CQueryNode::orNode, std::move(parts));
    }

    std::unique_ptr<CQueryNode> ParseUnary()
    {
        if (AtEnd() || Peek() == '|' || Peek() == '>')
        {
            if (!AtEnd() && Peek() == '>' && m_nDepth == 0)
                Fail(QueryErrorKind::strayGroupEnd, m_nPos);
            else
                Fail(QueryErrorKind::missingOperand, m_nPos);
            return nullptr;
        }
        if (Peek() == '!')
        {
            size_t nAt = m_nPos++;
            if (AtEnd() || IsBlank(Peek()) || Peek() == '|' || Peek() == '>')
            {
                Fail(QueryErrorKind::missingOperand, nAt + 1);
                return nullptr;
            }
            auto pChild = ParseUnary();
            if (pChild == nullptr)
                return nullptr;
            auto pNode = std::make_unique<CQueryNode>();
            pNode->m_nKind = CQueryNode::notNode;
            pNode->m_children.push_back(std::move(pChild));
            return pNode;
        }
        if (Peek() == '<')
        {
            size_t nOpen = m_nPos++;
            SkipBlanks();
            if (!AtEnd() && Peek() == '>')
            {
                Fail(QueryErrorKind::emptyGroup, nOpen);
                return nullptr;
            }
            if (AtEnd())
            {
                Fail(QueryErrorKind::missingGroupEnd, nOpen);
                return nullptr;
            }
            ++m_nDepth;
            auto pInner = ParseAnd();
            --m_nDepth;
            if (pInner == nullptr)
                return nullptr;
            SkipBlanks();
            if (AtEnd() || Peek() != '>')
            {
                Fail(QueryErrorKind::missingGroupEnd, nOpen);
                return nullptr;
            }
            ++m_nPos;
            return pInner;
        }
        return ParseTerm();
    }

    // "name:" at the current position: its lower-cased name, or "".
    std::string PeekPrefix() const
    {
        size_t n = m_nPos;
        while (n < m_text.size() && IsAsciiLetter(m_text[n]))
            ++n;
        if (n == m_nPos || n >= m_text.size() || m_text[n] != ':')
            return {};
        return AsciiLower(m_text.substr(m_nPos, n - m_nPos));
    }

    std::unique_ptr<CQueryNode> ParseTerm()
    {
        size_t nStart = m_nPos;
        CModifiers mods;
        std::unique_ptr<CQueryTerm> pMain;
        while (true)
        {
            std::string strPrefix = PeekPrefix();
            if (strPrefix.empty())
                break;
            size_t nAt = m_nPos;
            bool bModifier = false;
            for (const char* psz : MODIFIERS)
                bModifier = bModifier || strPrefix == psz;
            if (bModifier)
            {
                m_nPos += strPrefix.size() + 1;
                if (strPrefix == "case" || strPrefix == "path")
                    mods.nCaseOrPathAt = nAt;
                (strPrefix == "case"     ? mods.bCase
                 : strPrefix == "path"   ? mods.bPath
                 : strPrefix == "file"   ? mods.bFile
                 : strPrefix == "folder" ? mods.bFolder
                                         : mods.bUnread) = true;
                continue;
            }
            const CFilterRule* pFilter = nullptr;
            for (const CFilterRule& filter : FILTERS)
            {
                if (strPrefix == filter.pszName)
                    pFilter = &filter;
            }
            if (pFilter == nullptr)
            {
                Fail(QueryErrorKind::unknownFilter, nAt, strPrefix);
                return nullptr;
            }
            if (mods.TextOnly() && !pFilter->bTakesCaseOrPath)
            {
                Fail(QueryErrorKind::misplacedModifier, mods.nCaseOrPathAt, pFilter->pszName);
                return nullptr;
            }
            m_nPos += strPrefix.size() + 1;
            size_t nArgAt = m_nPos;
            std::string strArg;
            if (!ReadArgument(pFilter->nStyle, &strArg))
                return nullptr;
            if (strArg.empty())
            {
                Fail(QueryErrorKind::missingArgument, nAt, pFilter->pszName);
                return nullptr;
            }
            pMain = pFilter->fnMake(*this, strArg, nArgAt, mods);
            if (pMain == nullptr)
                return nullptr;
            break;
        }
        if (pMain == nullptr && !AtEnd() && !IsWordEnd(Peek()))
        {
            std::vector<CPatternPiece> pieces;
            if (!ReadWord(&pieces))
                return nullptr;
            pMain = MakeTextTerm(std::move(pieces), mods.bCase,
                                 mods.bPath ? TextTarget::path : TextTarget::name);
        }
        if (pMain == nullptr && mods.TextOnly())
        {
            Fail(QueryErrorKind::missingArgument, mods.nCaseOrPathAt, mods.bCase ? "case" : "path");
            return nullptr;
        }
        std::vector<std::unique_ptr<CQueryNode>> parts;
        if (mods.bFile)
            parts.push_back(Leaf(MakeKindTerm(false)));
        if (mods.bFolder)
            parts.push_back(Leaf(MakeKindTerm(true)));
        if (mods.bUnread)
            parts.push_back(Leaf(MakeUnreadTerm()));
        if (pMain != nullptr)
            parts.push_back(Leaf(std::move(pMain)));
        if (parts.empty())
        {
            Fail(QueryErrorKind::missingOperand, nStart);
            return nullptr;
        }
        return Combine(CQueryNode::andNode, std::move(parts));
    }

    // A quoted piece from the opening quote: its text, literally.
    bool ReadQuoted(std::string* pText)
    {
        size_t nOpen = m_nPos++;
        size_t nClose = m_text.find('"', m_nPos);
        if (nClose == std::string_view::npos)
            return Fail(QueryErrorKind::unclosedQuote, nOpen);
        pText->append(m_text.substr(m_nPos, nClose - m_nPos));
        m_nPos = nClose + 1;
        return true;
    }

    // Unquoted "*" and "?" are wildcards; quoted text is literal.
    bool ReadWord(std::vector<CPatternPiece>* pPieces)
    {
        auto addText = [pPieces](std::string_view text)
        {
            if (text.empty())
                return;
            if (pPieces->empty() || pPieces->back().nKind != CPatternPiece::text)
                pPieces->push_back({CPatternPiece::text, {}});
            pPieces->back().strText.append(text);
        };
        bool bQuoted = false;
        while (!AtEnd() && !IsWordEnd(Peek()))
        {
            char c = Peek();
            if (c == '"')
            {
                std::string strText;
                if (!ReadQuoted(&strText))
                    return false;
                addText(strText);
                bQuoted = true;
            }
            else if (c == '*' || c == '?')
            {
                // "**" is one run.
                if (c == '?' || pPieces->empty() || pPieces->back().nKind != CPatternPiece::anyRun)
                    pPieces->push_back(
                        {c == '*' ? CPatternPiece::anyRun : CPatternPiece::anyOne, {}});
                ++m_nPos;
            }
            else
            {
                addText(m_text.substr(m_nPos, 1));
                ++m_nPos;
            }
        }
        if (pPieces->empty() && bQuoted)
            pPieces->push_back({CPatternPiece::text, {}}); // "": in every name
        return true;
    }

    bool ReadArgument(ArgStyle nStyle, std::string* pArg)
    {
        if (nStyle == ArgStyle::rest)
        {
            if (!AtEnd() && Peek() == '"')
                return ReadQuoted(pArg);
            while (!AtEnd() && !IsBlank(Peek()))
                pArg->push_back(m_text[m_nPos++]);
            return true;
        }
        if (nStyle == ArgStyle::comparison)
        {
            while (!AtEnd() && (Peek() == '<' || Peek() == '>' || Peek() == '='))
                pArg->push_back(m_text[m_nPos++]);
        }
        while (!AtEnd() && !IsWordEnd(Peek()))
        {
            if (Peek() == '"')
            {
                if (!ReadQuoted(pArg))
                    return false;
            }
            else
                pArg->push_back(m_text[m_nPos++]);
        }
        return true;
    }

    std::string_view m_text;
    size_t m_nPos = 0;
    int m_nDepth = 0;
    bool m_bFailed = false;
    CQueryError m_error;
};

std::unique_ptr<CQueryTerm> MakeExt(CParser& parser, const std::string& strArg, size_t nArgAt,
                                    const CModifiers& mods)
{
    (void)parser;
    (void)nArgAt;
    (void)mods;
    std::vector<std::string> exts;
    size_t nStart = 0;
    while (nStart <= strArg.size())
    {
        size_t nEnd = strArg.find(';', nStart);
        if (nEnd == std::string::npos)
            nEnd = strArg.size();
        std::string_view ext = std::string_view(strArg).substr(nStart, nEnd - nStart);
        if (!ext.empty() && ext[0] == '.')
            ext.remove_prefix(1);
        if (!ext.empty())
            exts.push_back(FoldCase(ext));
        nStart = nEnd + 1;
    }
    if (exts.empty())
    {
        parser.Fail(QueryErrorKind::missingArgument, nArgAt, "ext");
        return nullptr;
    }
    return MakeExtTerm(std::move(exts));
}

// "700M", "1.5G", "12" (bytes): powers of 1,024, as the size column counts.
bool ReadSize(std::string_view text, long double* pValue)
{
    size_t n = 0;
    while (n < text.size() && ((text[n] >= '0' && text[n] <= '9') || text[n] == '.'))
        ++n;
    std::string strNumber(text.substr(0, n));
    if (strNumber.empty() || strNumber == "." || strNumber.find('.') != strNumber.rfind('.'))
        return false;
    long double value = std::strtold(strNumber.c_str(), nullptr);
    std::string strUnit = AsciiLower(text.substr(n));
    static const std::pair<const char*, int> UNITS[] = {
        {"", 0},   {"b", 0}, {"字节", 0}, {"k", 1}, {"kb", 1}, {"m", 2},
        {"mb", 2}, {"g", 3}, {"gb", 3},   {"t", 4}, {"tb", 4},
    };
    for (const auto& [pszUnit, nPower] : UNITS)
    {
        if (strUnit == pszUnit)
        {
            *pValue = value * std::pow(1024.0L, nPower);
            return *pValue < 1.8e19L;
        }
    }
    return false;
}

std::unique_ptr<CQueryTerm> MakeSize(CParser& parser, const std::string& strArg, size_t nArgAt,
                                     const CModifiers& mods)
{
    (void)mods;
    auto [op, arg] = SplitComparison(strArg);
    size_t nValueAt = nArgAt + op.size();
    auto bad = [&]() -> std::unique_ptr<CQueryTerm>
    {
        parser.Fail(QueryErrorKind::badSize, nValueAt, strArg);
        return nullptr;
    };
    long double low = 0;
    long double high = 0;
    size_t nRange = arg.find("..");
    if (nRange != std::string_view::npos)
    {
        if (!op.empty() || !ReadSize(arg.substr(0, nRange), &low) ||
            !ReadSize(arg.substr(nRange + 2), &high) || high < low)
            return bad();
        return MakeSizeTerm(static_cast<uint64_t>(std::ceil(low)),
                            static_cast<uint64_t>(std::floor(high)));
    }
    long double value = 0;
    if (!ReadSize(arg, &value))
        return bad();
    constexpr uint64_t MAX = UINT64_MAX;
    auto floorOf = static_cast<uint64_t>(std::floor(value));
    auto ceilOf = static_cast<uint64_t>(std::ceil(value));
    if (op == ">")
        return MakeSizeTerm(floorOf + 1, MAX);
    if (op == ">=")
        return MakeSizeTerm(ceilOf, MAX);
    if (op == "<")
        return ceilOf == 0 ? MakeSizeTerm(1, 0) : MakeSizeTerm(0, ceilOf - 1);
    if (op == "<=")
        return MakeSizeTerm(0, floorOf);
    if (op.empty() || op == "=")
        return MakeSizeTerm(ceilOf, floorOf);
    return bad();
}

// A whole number of at most nMaxDigits digits, all of text.
bool ReadNumber(std::string_view text, size_t nMaxDigits, int* pn)
{
    if (text.empty() || text.size() > nMaxDigits)
        return false;
    int n = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *pn = n;
    return true;
}

// A day, month or year of the local calendar ("today", "yesterday",
// "2026", "2026-12", "2026-12-09"): where it starts and ends, as wall-clock
// seconds read as UTC.
bool ReadPeriod(std::string_view text, int64_t nNowWall, int64_t* pnStart, int64_t* pnEnd)
{
    std::string strLower = AsciiLower(text);
    int64_t nToday = (nNowWall >= 0 ? nNowWall / 86400 : (nNowWall - 86399) / 86400) * 86400;
    if (strLower == "today" || strLower == "yesterday")
    {
        *pnStart = nToday - (strLower == "today" ? 0 : 86400);
        *pnEnd = *pnStart + 86400;
        return true;
    }
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    size_t nDash = text.find('-');
    if (!ReadNumber(text.substr(0, nDash), 4, &nYear) || text.substr(0, nDash).size() != 4 ||
        nYear < 1)
        return false;
    if (nDash == std::string_view::npos)
    {
        *pnStart = CivilToSeconds(nYear, 1, 1);
        *pnEnd = CivilToSeconds(nYear + 1, 1, 1);
        return true;
    }
    std::string_view rest = text.substr(nDash + 1);
    size_t nDash2 = rest.find('-');
    if (!ReadNumber(rest.substr(0, nDash2), 2, &nMonth) || nMonth < 1 || nMonth > 12)
        return false;
    auto nextMonth = [&] { return nMonth == 12 ? CivilToSeconds(nYear + 1, 1, 1)
                                               : CivilToSeconds(nYear, nMonth + 1, 1); };
    if (nDash2 == std::string_view::npos)
    {
        *pnStart = CivilToSeconds(nYear, nMonth, 1);
        *pnEnd = nextMonth();
        return true;
    }
    if (!ReadNumber(rest.substr(nDash2 + 1), 2, &nDay) || nDay < 1)
        return false;
    *pnStart = CivilToSeconds(nYear, nMonth, nDay);
    *pnEnd = *pnStart + 86400;
    return *pnEnd <= nextMonth(); // no February 30
}

// dm: the time an entry was modified: "today", "yesterday", "7d" (the last
// 7 days), a year, month or day, a comparison with one (">2026-01-01":
// after that day), or a range of them ("2026-01..2026-06", both included).
// Days are the local calendar's; a time listed in the server's own zone
// is taken as a local one.
std::unique_ptr<CQueryTerm> MakeDate(CParser& parser, const std::string& strArg, size_t nArgAt,
                                     const CModifiers& mods)
{
    (void)mods;
    auto [op, arg] = SplitComparison(strArg);
    auto bad = [&]() -> std::unique_ptr<CQueryTerm>
    {
        parser.Fail(QueryErrorKind::badDate, nArgAt + op.size(), strArg);
        return nullptr;
    };
    constexpr int64_t MIN = INT64_MIN;
    constexpr int64_t MAX = INT64_MAX;
    const int64_t nNow = NowSeconds();
    const int64_t nNowWall = WallSeconds(CModTime(nNow, TimePrecision::second, true));
    // From wall-clock bounds, each also as UTC for times whose zone is known.
    auto range = [](int64_t nFromWall, int64_t nToWall)
    {
        auto utc = [](int64_t n) { return n == MIN || n == MAX ? n : LocalWallToUtc(n); };
        return MakeTimeTerm(CTimeRange{utc(nFromWall), utc(nToWall), nFromWall, nToWall});
    };
    int nDays = 0;
    if (op.empty() && arg.size() >= 2 && (arg.back() == 'd' || arg.back() == 'D') &&
        ReadNumber(arg.substr(0, arg.size() - 1), 5, &nDays))
        return MakeTimeTerm(
            CTimeRange{nNow - nDays * int64_t{86400}, MAX, nNowWall - nDays * int64_t{86400}, MAX});
    int64_t nStart = 0;
    int64_t nEnd = 0;
    size_t nRange = arg.find("..");
    if (nRange != std::string_view::npos)
    {
        int64_t nStart2 = 0;
        int64_t nEnd2 = 0;
        if (!op.empty() || !ReadPeriod(arg.substr(0, nRange), nNowWall, &nStart, &nEnd) ||
            !ReadPeriod(arg.substr(nRange + 2), nNowWall, &nStart2, &nEnd2) || nEnd2 <= nStart)
            return bad();
        return range(nStart, nEnd2);
    }
    if (!ReadPeriod(arg, nNowWall, &nStart, &nEnd))
        return bad();
    if (op == ">")
        return range(nEnd, MAX);
    if (op == ">=")
        return range(nStart, MAX);
    if (op == "<")
        return range(MIN, nStart);
    if (op == "<=")
        return range(MIN, nEnd);
    if (op.empty() || op == "=")
        return range(nStart, nEnd);
    return bad();
}

std::unique_ptr<CQueryTerm> MakeSite(CParser& parser, const std::string& strArg, size_t nArgAt,
                                     const CModifiers& mods)
{
    (void)parser;
    (void)nArgAt;
    (void)mods;
    return MakeSiteTerm(FoldCase(strArg));
}

std::unique_ptr<CQueryTerm> MakeRegex(CParser& parser, const std::string& strArg, size_t nArgAt,
                                      const CModifiers& mods)
{
    std::string strError;
    auto pTerm = MakeRegexTerm(strArg, mods.bCase, mods.bPath ? TextTarget::path : TextTarget::name,
                               &strError);
    if (pTerm == nullptr)
        parser.Fail(QueryErrorKind::badRegex, nArgAt, strError);
    return pTerm;
}
} // namespace

std::unique_ptr<CQuery> CQuery::Parse(std::string_view text, CQueryError* pError)
{
    auto pQuery = std::make_unique<CQuery>();
    CParser parser(text);
    if (!parser.Parse(&pQuery->m_root))
    {
        if (pError != nullptr)
            *pError = parser.Error();
        return nullptr;
    }
    // A term, or terms ANDed, whose signature tests are plain masks: the
    // tests fold into one.
    const CQueryNode& root = pQuery->m_root;
    auto plain = [](const CQueryNode& node, uint64_t* pnMask)
    {
        if (node.m_nKind != CQueryNode::term)
            return false;
        bool bPlain = false;
        *pnMask |= node.m_pTerm->PlainMask(&bPlain);
        return bPlain;
    };
    uint64_t nMask = 0;
    bool bPlain = root.m_nKind == CQueryNode::all || plain(root, &nMask);
    if (root.m_nKind == CQueryNode::andNode)
    {
        bPlain = true;
        for (const auto& pChild : root.m_children)
            bPlain = bPlain && plain(*pChild, &nMask);
    }
    pQuery->m_bPlainMask = bPlain;
    pQuery->m_nPlainMask = bPlain ? nMask : 0;
    return pQuery;
}

std::string FormatQueryError(const CQueryError& error, bool bChinese)
{
    std::string strWhat;
    const std::string& d = error.strDetail;
    switch (error.nKind)
    {
    case QueryErrorKind::missingGroupEnd:
        strWhat = bChinese ? "“<”没有对应的“>”" : "'<' has no matching '>'";
        break;
    case QueryErrorKind::strayGroupEnd:
        strWhat = bChinese ? "多余的“>”" : "'>' without a '<' before it";
        break;
    case QueryErrorKind::missingOperand:
        strWhat = bChinese ? "这里缺少要查找的内容" : "something to look for is missing here";
        break;
    case QueryErrorKind::emptyGroup:
        strWhat = bChinese ? "“<>”之间是空的" : "nothing between '<' and '>'";
        break;
    case QueryErrorKind::unclosedQuote:
        strWhat = bChinese ? "引号没有结束" : "the quote is not closed";
        break;
    case QueryErrorKind::unknownFilter:
        strWhat = bChinese ? "不认识的条件“" + d + ":”（要查找含冒号的文字请加引号）"
                           : "unknown filter '" + d + ":' (quote text that holds a colon)";
        break;
    case QueryErrorKind::missingArgument:
        strWhat = bChinese ? "“" + d + ":”后面缺少内容" : "'" + d + ":' needs something after it";
        break;
    case QueryErrorKind::badSize:
        strWhat = bChinese ? "无法理解的大小“" + d + "”（例如 size:>700M、size:1M..10M）"
                           : "cannot read the size '" + d + "' (e.g. size:>700M, size:1M..10M)";
        break;
    case QueryErrorKind::badDate:
        strWhat = bChinese ? "无法理解的日期“" + d +
                                 "”（例如 dm:today、dm:7d、dm:2026-12、dm:>2026-01-01、"
                                 "dm:2026-01-01..2026-06-30）"
                           : "cannot read the date '" + d +
                                 "' (e.g. dm:today, dm:7d, dm:2026-12, dm:>2026-01-01, "
                                 "dm:2026-01-01..2026-06-30)";
        break;
    case QueryErrorKind::badRegex:
        strWhat = bChinese ? "正则表达式有误：" + d : "bad regular expression: " + d;
        break;
    case QueryErrorKind::misplacedModifier:
        strWhat = bChinese ? "case: 和 path: 不能用在“" + d + ":”前面"
                           : "case: and path: cannot come before '" + d + ":'";
        break;
    }
    if (bChinese)
        return "第 " + std::to_string(error.nColumn) + " 个字符处" + strWhat;
    return "at character " + std::to_string(error.nColumn) + ": " + strWhat;
}
