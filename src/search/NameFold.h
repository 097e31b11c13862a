#pragma once
// Case folding for search: a word matches a name whatever the letter case,
// in every script that has case (full Unicode folding, so "STRASSE" finds
// "straße"). Folding works one character at a time, so the folding of a
// piece of a name is a piece of the folded name: substring tests and the
// trigrams of the name index agree.
//
// Threads: any.

#include <string>
#include <string_view>

// UTF-8 text -> its case folding, into *pOut (its memory reused). Bytes that
// are not UTF-8 are kept as they are.
void FoldCase(std::string_view text, std::string* pOut);
std::string FoldCase(std::string_view text);
// The folding of text when it is all ASCII, into *pOut: true. Otherwise
// false, *pOut left holding nothing of use.
bool FoldAscii(std::string_view text, std::string* pOut);
