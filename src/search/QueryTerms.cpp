#include "search/QueryTerms.h"

#include <re2/filtered_re2.h>
#include <re2/re2.h>

#include <cstring>

#include "model/NameCodec.h"
#include "search/NameFold.h"
#include "search/NameIndex.h"

namespace
{
bool Contains(std::string_view text, std::string_view word)
{
    if (word.empty())
        return true;
    return ::memmem(text.data(), text.size(), word.data(), word.size()) != nullptr;
}

// One UTF-8 character's length at p (1 for a stray byte).
size_t CharLength(std::string_view text, size_t nPos)
{
    auto c = static_cast<unsigned char>(text[nPos]);
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c >= 0x80 && c < 0xC0)
        n = 1;
    return std::min(n, text.size() - nPos);
}

// A wildcard pattern over the whole text: "*" any run, "?" one character.
// Greedy with one remembered "*", which is enough for glob patterns and
// stays within length x pattern steps.
bool GlobMatch(const std::vector<CPatternPiece>& pieces, std::string_view text)
{
    size_t nPiece = 0;
    size_t nPos = 0;
    size_t nStarPiece = SIZE_MAX;
    size_t nStarPos = 0;
    while (true)
    {
        if (nPiece < pieces.size())
        {
            const CPatternPiece& piece = pieces[nPiece];
            if (piece.nKind == CPatternPiece::anyRun)
            {
                nStarPiece = ++nPiece;
                nStarPos = nPos;
                continue;
            }
            if (piece.nKind == CPatternPiece::anyOne && nPos < text.size())
            {
                nPos += CharLength(text, nPos);
                ++nPiece;
                continue;
            }
            if (piece.nKind == CPatternPiece::text &&
                text.substr(nPos, piece.strText.size()) == piece.strText)
            {
                nPos += piece.strText.size();
                ++nPiece;
                continue;
            }
        }
        else if (nPos == text.size())
            return true;
        // Mismatch: let the last "*" take one more character.
        if (nStarPiece == SIZE_MAX || nStarPos >= text.size())
            return false;
        nStarPos += CharLength(text, nStarPos);
        nPos = nStarPos;
        nPiece = nStarPiece;
    }
}

// The trigrams every match must hold: those of each literal piece (folded).
std::vector<uint32_t> PieceTrigrams(const std::vector<CPatternPiece>& pieces)
{
    std::vector<uint32_t> keys;
    for (const CPatternPiece& piece : pieces)
    {
        if (piece.nKind == CPatternPiece::text)
            AddTrigrams(FoldCase(piece.strText), &keys);
    }
    return keys;
}

// The blocks that may hold folded text: through its trigrams, or its two
// bytes; false, *pBlocks untouched, when the index cannot narrow them.
bool BlocksWithText(const CNameIndex& index, std::string_view folded, CBlockSet* pBlocks)
{
    std::vector<uint32_t> keys;
    AddTrigrams(folded, &keys);
    if (!keys.empty())
    {
        index.BlocksWithAll(keys, pBlocks);
        return true;
    }
    if (folded.size() == 2)
        return index.BlocksWithPair(static_cast<unsigned char>(folded[0]),
                                    static_cast<unsigned char>(folded[1]), pBlocks);
    return false;
}

class CTextTerm : public CQueryTerm
{
public:
    CTextTerm(std::vector<CPatternPiece> pieces, bool bCase, TextTarget nTarget)
        : m_bCase(bCase), m_nTarget(nTarget)
    {
        m_keys = PieceTrigrams(pieces);
        for (const CPatternPiece& piece : pieces)
        {
            std::string strFolded =
                piece.nKind == CPatternPiece::text ? FoldCase(piece.strText) : std::string();
            if (strFolded.size() == 2)
                m_twoByteTexts.push_back(std::move(strFolded));
        }
        m_bGlob = false;
        for (CPatternPiece& piece : pieces)
        {
            if (piece.nKind != CPatternPiece::text)
                m_bGlob = true;
            else if (!bCase)
                piece.strText = FoldCase(piece.strText);
        }
        if (!m_bGlob)
        {
            for (const CPatternPiece& piece : pieces)
                m_strWord += piece.strText;
        }
        m_pieces = std::move(pieces);
        if (nTarget == TextTarget::name)
        {
            for (uint32_t nKey : m_keys)
                m_nMask |= CNameIndex::SignatureBit(nKey);
        }
    }

    bool MaySign(uint64_t nSignature) const override { return (nSignature & m_nMask) == m_nMask; }
    uint64_t PlainMask(bool* pbPlain) const override
    {
        *pbPlain = true;
        return m_nMask;
    }

    bool Match(CEntryContext& ctx) const override
    {
        std::string_view text;
        if (m_nTarget == TextTarget::name)
            text = m_bCase ? ctx.Name() : ctx.FoldedName();
        else
            text = m_bCase ? ctx.Path() : ctx.FoldedPath();
        return m_bGlob ? GlobMatch(m_pieces, text) : Contains(text, m_strWord);
    }

    bool Candidates(const CNameIndex& index, CBlockSet* pBlocks) const override
    {
        // A path also holds the folders' names, which the index keeps
        // with their parents, not with the entry.
        if (m_nTarget != TextTarget::name)
            return false;
        if (!m_keys.empty())
        {
            CBlockSet found;
            index.BlocksWithAll(m_keys, &found);
            pBlocks->And(found);
            return true;
        }
        // Only pieces of one or two bytes: the two-byte ones still narrow.
        bool bNarrowed = false;
        for (const std::string& strText : m_twoByteTexts)
        {
            CBlockSet found;
            if (BlocksWithText(index, strText, &found))
            {
                pBlocks->And(found);
                bNarrowed = true;
            }
        }
        return bNarrowed;
    }

private:
    bool m_bCase;
    TextTarget m_nTarget;
    bool m_bGlob;
    std::string m_strWord;
    std::vector<CPatternPiece> m_pieces;
    std::vector<uint32_t> m_keys;
    std::vector<std::string> m_twoByteTexts; // folded
    uint64_t m_nMask = 0;
};

class CExtTerm : public CQueryTerm
{
public:
    explicit CExtTerm(std::vector<std::string> exts) : m_exts(std::move(exts))
    {
        for (const std::string& strExt : m_exts)
            m_masks.push_back(SignatureOf("." + strExt));
    }

    bool HasOwnSignTest() const override { return true; }
    bool MaySign(uint64_t nSignature) const override
    {
        for (uint64_t nMask : m_masks)
        {
            if ((nSignature & nMask) == nMask)
                return true;
        }
        return false;
    }

    bool Match(CEntryContext& ctx) const override
    {
        if (ctx.IsFolder())
            return false;
        std::string_view name = ctx.FoldedName();
        size_t nDot = name.rfind('.');
        if (nDot == std::string_view::npos)
            return false;
        std::string_view ext = name.substr(nDot + 1);
        for (const std::string& strExt : m_exts)
        {
            if (ext == strExt)
                return true;
        }
        return false;
    }

    bool Candidates(const CNameIndex& index, CBlockSet* pBlocks) const override
    {
        CBlockSet merged(pBlocks->Size(), false);
        for (const std::string& strExt : m_exts)
        {
            CBlockSet found;
            if (!BlocksWithText(index, "." + strExt, &found))
                return false;
            merged.Or(found);
        }
        pBlocks->And(merged);
        return true;
    }

private:
    std::vector<std::string> m_exts;
    std::vector<uint64_t> m_masks;
};

class CSizeTerm : public CQueryTerm
{
public:
    CSizeTerm(uint64_t nMin, uint64_t nMax) : m_nMin(nMin), m_nMax(nMax) {}
    bool Match(CEntryContext& ctx) const override
    {
        return !ctx.IsFolder() && ctx.Size() >= m_nMin && ctx.Size() <= m_nMax;
    }

private:
    uint64_t m_nMin;
    uint64_t m_nMax;
};

class CKindTerm : public CQueryTerm
{
public:
    explicit CKindTerm(bool bFolder) : m_bFolder(bFolder) {}
    bool Match(CEntryContext& ctx) const override { return ctx.IsFolder() == m_bFolder; }

private:
    bool m_bFolder;
};

class CTimeTerm : public CQueryTerm
{
public:
    explicit CTimeTerm(const CTimeRange& range) : m_range(range) {}
    bool Match(CEntryContext& ctx) const override
    {
        CModTime time = ctx.Time();
        if (!time.IsKnown())
            return false;
        int64_t n = time.Seconds();
        return time.IsZoneKnown() ? n >= m_range.nFromUtc && n < m_range.nToUtc
                                  : n >= m_range.nFromWall && n < m_range.nToWall;
    }

private:
    CTimeRange m_range;
};

class CUnreadTerm : public CQueryTerm
{
public:
    bool Match(CEntryContext& ctx) const override { return ctx.IsUnread(); }
};

class CSiteTerm : public CQueryTerm
{
public:
    explicit CSiteTerm(std::string strWord) : m_strWord(std::move(strWord)) {}
    bool Match(CEntryContext& ctx) const override { return *MatchSite(ctx.Site()); }
    std::optional<bool> MatchSite(const CSiteFacts& site) const override
    {
        return Contains(site.strFoldedKey, m_strWord) ||
               Contains(site.strFoldedNickname, m_strWord);
    }

private:
    std::string m_strWord;
};

class CRegexTerm : public CQueryTerm
{
public:
    CRegexTerm(const std::string& strPattern, bool bCase, TextTarget nTarget)
        : m_nTarget(nTarget), m_options(MakeOptions(bCase)), m_re(strPattern, m_options),
          m_filter(2)
    {
        if (!m_re.ok())
            return;
        int nId = 0;
        if (m_filter.Add(strPattern, m_options, &nId) != re2::RE2::NoError)
            return;
        std::vector<std::string> atoms;
        m_filter.Compile(&atoms);
        m_bFiltered = true;
        for (const std::string& strAtom : atoms)
        {
            // Atoms are lower-cased by RE2's own rules; only ASCII ones are
            // sure to be what the index folded. An empty one tells nothing.
            std::string strUsable = IsAscii(strAtom) ? strAtom : std::string();
            std::vector<uint32_t> keys;
            AddTrigrams(strUsable, &keys);
            uint64_t nMask = 0;
            for (uint32_t nKey : keys)
                nMask |= CNameIndex::SignatureBit(nKey);
            m_atomMasks.push_back(m_nTarget == TextTarget::name ? nMask : 0);
            m_atoms.push_back(std::move(strUsable));
        }
        MakeSignTest();
    }

    bool IsOk() const { return m_re.ok(); }
    std::string Error() const { return m_re.error(); }

    bool Match(CEntryContext& ctx) const override
    {
        std::string_view text = m_nTarget == TextTarget::name ? ctx.Name() : ctx.Path();
        return re2::RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), m_re);
    }

    // A name may match only when the atoms its signature may hold are
    // enough for the pattern. Atoms with no bits count as held.
    bool MaySign(uint64_t nSignature) const override
    {
        if (m_mayMatch.empty())
            return true;
        size_t nHeld = 0;
        for (size_t a = 0; a < m_atomMasks.size(); ++a)
            nHeld |= size_t{(nSignature & m_atomMasks[a]) == m_atomMasks[a]} << a;
        return m_mayMatch[nHeld];
    }
    uint64_t PlainMask(bool* pbPlain) const override
    {
        *pbPlain = m_mayMatch.empty() || m_bPlain;
        return m_nPlainMask;
    }
    bool HasOwnSignTest() const override { return !m_mayMatch.empty() && !m_bPlain; }

    bool Candidates(const CNameIndex& index, CBlockSet* pBlocks) const override
    {
        if (!m_bFiltered || m_nTarget != TextTarget::name)
            return false;
        std::vector<int> none;
        std::vector<int> potential;
        m_filter.AllPotentials(none, &potential);
        if (!potential.empty())
            return false; // may match without any of its atoms
        std::vector<CBlockSet> atomBlocks;
        CBlockSet any(pBlocks->Size(), false);
        for (const std::string& strAtom : m_atoms)
        {
            CBlockSet found(pBlocks->Size(), true);
            (void)BlocksWithText(index, strAtom, &found);
            any.Or(found);
            atomBlocks.push_back(std::move(found));
        }
        CBlockSet result(pBlocks->Size(), false);
        std::vector<int> matched;
        for (size_t n = any.Next(0); n < any.Size(); n = any.Next(n + 1))
        {
            if (!pBlocks->Has(n))
                continue;
            if (!m_mayMatch.empty())
            {
                // The answer asked of RE2 when the query was read.
                size_t nHeld = 0;
                for (size_t a = 0; a < atomBlocks.size(); ++a)
                    nHeld |= size_t{atomBlocks[a].Has(n)} << a;
                if (m_mayMatch[nHeld])
                    result.Add(n);
                continue;
            }
            matched.clear();
            for (size_t a = 0; a < atomBlocks.size(); ++a)
            {
                if (atomBlocks[a].Has(n))
                    matched.push_back(static_cast<int>(a));
            }
            potential.clear();
            m_filter.AllPotentials(matched, &potential);
            if (!potential.empty())
                result.Add(n);
        }
        *pBlocks = std::move(result);
        return true;
    }

private:
    // Which sets of held atoms leave the pattern a chance, asked of RE2 once
    // for every set (a handful of atoms: a small table). When the answer is
    // "these atoms, all of them", the test is a plain mask.
    void MakeSignTest()
    {
        const size_t nAtoms = m_atomMasks.size();
        if (m_nTarget != TextTarget::name || nAtoms == 0 || nAtoms > MAX_TABLE_ATOMS)
            return;
        m_mayMatch.resize(size_t{1} << nAtoms);
        size_t nRequired = m_mayMatch.size() - 1;
        std::vector<int> held;
        std::vector<int> potential;
        for (size_t nSet = 0; nSet < m_mayMatch.size(); ++nSet)
        {
            held.clear();
            for (size_t a = 0; a < nAtoms; ++a)
            {
                if ((nSet >> a) & 1)
                    held.push_back(static_cast<int>(a));
            }
            potential.clear();
            m_filter.AllPotentials(held, &potential);
            m_mayMatch[nSet] = !potential.empty();
            if (m_mayMatch[nSet])
                nRequired &= nSet;
        }
        m_bPlain = true;
        for (size_t nSet = 0; nSet < m_mayMatch.size(); ++nSet)
            m_bPlain = m_bPlain && m_mayMatch[nSet] == ((nSet & nRequired) == nRequired);
        if (m_bPlain)
        {
            for (size_t a = 0; a < nAtoms; ++a)
                m_nPlainMask |= ((nRequired >> a) & 1) != 0 ? m_atomMasks[a] : 0;
        }
    }

    static re2::RE2::Options MakeOptions(bool bCase)
    {
        re2::RE2::Options options;
        options.set_log_errors(false);
        options.set_case_sensitive(bCase);
        return options;
    }

    TextTarget m_nTarget;
    re2::RE2::Options m_options;
    re2::RE2 m_re;
    re2::FilteredRE2 m_filter;
    bool m_bFiltered = false;
    std::vector<std::string> m_atoms; // "" for those the index cannot look up
    static constexpr size_t MAX_TABLE_ATOMS = 10;
    std::vector<uint64_t> m_atomMasks; // per atom its trigrams' signature bits
    std::vector<bool> m_mayMatch;      // per set of held atoms; empty: no test
    bool m_bPlain = false;
    uint64_t m_nPlainMask = 0;
};
} // namespace

std::unique_ptr<CQueryTerm> MakeTextTerm(std::vector<CPatternPiece> pieces, bool bCase,
                                         TextTarget nTarget)
{
    return std::make_unique<CTextTerm>(std::move(pieces), bCase, nTarget);
}

std::unique_ptr<CQueryTerm> MakeExtTerm(std::vector<std::string> exts)
{
    return std::make_unique<CExtTerm>(std::move(exts));
}

std::unique_ptr<CQueryTerm> MakeSizeTerm(uint64_t nMin, uint64_t nMax)
{
    return std::make_unique<CSizeTerm>(nMin, nMax);
}

std::unique_ptr<CQueryTerm> MakeKindTerm(bool bFolder)
{
    return std::make_unique<CKindTerm>(bFolder);
}

std::unique_ptr<CQueryTerm> MakeTimeTerm(const CTimeRange& range)
{
    return std::make_unique<CTimeTerm>(range);
}

std::unique_ptr<CQueryTerm> MakeUnreadTerm()
{
    return std::make_unique<CUnreadTerm>();
}

std::unique_ptr<CQueryTerm> MakeSiteTerm(std::string strFoldedWord)
{
    return std::make_unique<CSiteTerm>(std::move(strFoldedWord));
}

std::unique_ptr<CQueryTerm> MakeRegexTerm(const std::string& strPattern, bool bCase,
                                          TextTarget nTarget, std::string* pstrError)
{
    auto pTerm = std::make_unique<CRegexTerm>(strPattern, bCase, nTarget);
    if (!pTerm->IsOk())
    {
        *pstrError = pTerm->Error();
        return nullptr;
    }
    return pTerm;
}
