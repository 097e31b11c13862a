#pragma once
// The terms a query is made of. The parser makes them through these
// functions; each term's class lives in QueryTerms.cpp.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "search/Query.h"

// A piece of a word as typed: literal text, or the wildcard "*" (any run of
// characters) or "?" (one character).
struct CPatternPiece
{
    enum Kind
    {
        text,
        anyRun,
        anyOne,
    };
    Kind nKind = text;
    std::string strText;
};

// Where a word or pattern is looked for.
enum class TextTarget
{
    name,
    path,
};

// A word (substring) or, with a wildcard piece, a pattern over the whole
// name or path. bCase: letter case counts.
std::unique_ptr<CQueryTerm> MakeTextTerm(std::vector<CPatternPiece> pieces, bool bCase,
                                         TextTarget nTarget);
// Files whose extension is one of these (case-folded, without the dot).
std::unique_ptr<CQueryTerm> MakeExtTerm(std::vector<std::string> exts);
// Files of nMin..nMax bytes, both included.
std::unique_ptr<CQueryTerm> MakeSizeTerm(uint64_t nMin, uint64_t nMax);
std::unique_ptr<CQueryTerm> MakeKindTerm(bool bFolder);
// Entries whose time falls in [nFrom, nTo): UTC seconds for times whose
// zone is known, wall-clock seconds read as UTC for the others.
struct CTimeRange
{
    int64_t nFromUtc, nToUtc;
    int64_t nFromWall, nToWall;
};
std::unique_ptr<CQueryTerm> MakeTimeTerm(const CTimeRange& range);
std::unique_ptr<CQueryTerm> MakeUnreadTerm();
// Sites whose key or nickname holds the word (case-folded).
std::unique_ptr<CQueryTerm> MakeSiteTerm(std::string strFoldedWord);
// An RE2 pattern; null with *pstrError set when RE2 rejects it.
std::unique_ptr<CQueryTerm> MakeRegexTerm(const std::string& strPattern, bool bCase,
                                          TextTarget nTarget, std::string* pstrError);
