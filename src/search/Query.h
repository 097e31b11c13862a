#pragma once
// A search query as the parser read it: a tree of AND, OR and NOT over terms
// (a word, a wildcard pattern, a filter such as ext: or size:). The same
// query serves every thread of a search: it is immutable once parsed, and
// what a match needs per entry lives in CEntryContext.
//
// Each term can say, besides whether an entry matches, which blocks of a
// site's name index may hold a match (Candidates), and whether a whole site
// is in or out (MatchSite), so a search skips what cannot match.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/ModTime.h"
#include "search/BlockSet.h"

class CFTPDir;
class CNameCodec;
class CNameIndex;

// What a search knows of the site an entry belongs to: copied on the
// thread that owns the site list, so the search never reads site fields
// the window may be changing.
struct CSiteFacts
{
    std::string strFoldedKey;      // the site key, case-folded text
    std::string strFoldedNickname; // the nickname, case-folded text
};

// One entry being tested. The text forms are made on first need and kept
// until the next entry (most queries only need the folded name).
class CEntryContext
{
public:
    CEntryContext() = default;
    CEntryContext(const CEntryContext&) = delete;
    CEntryContext& operator=(const CEntryContext&) = delete;

    // The site's codec and facts, for the entries that follow.
    void SetSite(const CNameCodec* pCodec, const CSiteFacts* pFacts);
    // The folder whose children follow: its path as text ("" for the root).
    void SetFolder(const CFTPDir* pFolder);
    void SetEntry(const std::string& strRawName, bool bFolder, uint64_t nSize, bool bUnread,
                  CModTime time = {});

    std::string_view Name();
    std::string_view FoldedName();
    // "/a/b/name" from the site's root, as text.
    std::string_view Path();
    std::string_view FoldedPath();

    bool IsFolder() const { return m_bFolder; }
    uint64_t Size() const { return m_nSize; }
    bool IsUnread() const { return m_bUnread; }
    CModTime Time() const { return m_time; }
    const CSiteFacts& Site() const { return *m_pFacts; }

private:
    const CNameCodec* m_pCodec = nullptr;
    const CSiteFacts* m_pFacts = nullptr;
    const CFTPDir* m_pFolder = nullptr;
    bool m_bFolderPathKnown = false;
    std::string m_strFolderPath;
    const std::string* m_pRawName = nullptr;
    bool m_bFolder = false;
    uint64_t m_nSize = 0;
    bool m_bUnread = false;
    CModTime m_time;
    // Which of the forms below belong to the current entry.
    bool m_bName = false;
    bool m_bFoldedName = false;
    bool m_bPath = false;
    bool m_bFoldedPath = false;
    bool m_bAsIs = false; // the raw name is its own text
    std::string m_strName;
    std::string m_strFoldedName;
    std::string m_strPath;
    std::string m_strFoldedPath;
};

class CQueryTerm
{
public:
    virtual ~CQueryTerm() = default;
    virtual bool Match(CEntryContext& ctx) const = 0;
    // Narrows *pBlocks (all blocks of the index on entry) to those that may
    // hold a match; false, leaving it alone, when the term cannot tell.
    virtual bool Candidates(const CNameIndex& index, CBlockSet* pBlocks) const
    {
        (void)index;
        (void)pBlocks;
        return false;
    }
    // False when an entry whose name has this trigram signature cannot
    // match (NameIndex.h).
    virtual bool MaySign(uint64_t nSignature) const
    {
        (void)nSignature;
        return true;
    }
    // The bits every matching name's signature has, when MaySign is no more
    // than that test (0: no bits, or a test of another kind).
    virtual uint64_t PlainMask(bool* pbPlain) const
    {
        *pbPlain = !HasOwnSignTest();
        return 0;
    }
    virtual bool HasOwnSignTest() const { return false; }
    // The term's answer for every entry of a site, when the site decides it.
    virtual std::optional<bool> MatchSite(const CSiteFacts& site) const
    {
        (void)site;
        return std::nullopt;
    }
};

class CQueryNode
{
public:
    enum Kind
    {
        all, // the empty query: everything
        andNode,
        orNode,
        notNode,
        term,
    };

    Kind m_nKind = all;
    std::vector<std::unique_ptr<CQueryNode>> m_children;
    std::unique_ptr<CQueryTerm> m_pTerm;

    bool Match(CEntryContext& ctx) const;
    bool Candidates(const CNameIndex& index, CBlockSet* pBlocks) const;
    bool MaySign(uint64_t nSignature) const;
    std::optional<bool> MatchSite(const CSiteFacts& site) const;
};

// Where a query could not be read: the character (counted from 1) and what
// was wrong there.
enum class QueryErrorKind
{
    missingGroupEnd,   // "<a": no ">"
    strayGroupEnd,     // ">" without "<"
    missingOperand,    // "a |", "!" with nothing after it
    emptyGroup,        // "<>"
    unclosedQuote,     // "\"abc"
    unknownFilter,     // "szie:1M"
    missingArgument,   // "ext:", "case:" with nothing to apply to
    badSize,           // "size:>x"
    badDate,           // "dm:2026-13"
    badRegex,          // RE2 rejected the pattern (detail: its reason)
    misplacedModifier, // "case:size:1M"
};

struct CQueryError
{
    QueryErrorKind nKind = QueryErrorKind::missingOperand;
    size_t nColumn = 1;    // character position, from 1
    std::string strDetail; // the filter name, the pattern's fault...
};

// The message for people: Chinese for the window, English for tarn-cli.
std::string FormatQueryError(const CQueryError& error, bool bChinese);

class CQuery
{
public:
    // Reads a query; null with *pError filled when it cannot be read. An
    // empty or blank text is the query that matches everything.
    [[nodiscard]] static std::unique_ptr<CQuery> Parse(std::string_view text, CQueryError* pError);

    bool Match(CEntryContext& ctx) const { return m_root.Match(ctx); }
    // False when the query can match nothing in the site.
    bool MayMatchSite(const CSiteFacts& site) const
    {
        return m_root.MatchSite(site).value_or(true);
    }
    // See CQueryTerm::Candidates.
    bool Candidates(const CNameIndex& index, CBlockSet* pBlocks) const
    {
        return m_root.Candidates(index, pBlocks);
    }
    bool MaySign(uint64_t nSignature) const
    {
        // Most queries are words ANDed: one mask test, no walk of the tree.
        if (m_bPlainMask)
            return (nSignature & m_nPlainMask) == m_nPlainMask;
        return m_root.MaySign(nSignature);
    }
    bool IsEmpty() const { return m_root.m_nKind == CQueryNode::all; }

    CQueryNode m_root;
    bool m_bPlainMask = false;
    uint64_t m_nPlainMask = 0;
};
