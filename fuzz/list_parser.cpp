// Fuzzes the listing parser: any bytes must parse without a crash, each
// line giving at most one entry or one unreadable count, and every entry
// must be one the crawler can store.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/FtpListParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::string_view listing(reinterpret_cast<const char*>(pData), nSize);
    CFtpListing result = CFtpListParser::Parse(listing);
    size_t nLines = static_cast<size_t>(std::count(listing.begin(), listing.end(), '\n')) + 1;
    if (result.entries.size() + result.nUnreadable > nLines)
        std::abort();
    for (const CFtpListEntry& entry : result.entries)
    {
        if (entry.strName.empty() || entry.strName == "." || entry.strName == ".." ||
            entry.strName.find('\0') != std::string::npos || (entry.bDirectory && entry.nSize != 0))
            std::abort();
        if (entry.nTimePrecision == EFtpTimePrecision::NONE && entry.nTime != 0)
            std::abort();
    }
    // When the listing was taken changes times only: never which entries
    // there are, and never a time whose year the line gave.
    const int64_t LISTED_AT = 1735776000; // 2025-01-02 00:00 UTC
    CFtpListing dated = CFtpListParser::Parse(listing, LISTED_AT);
    if (dated.entries.size() != result.entries.size() || dated.nUnreadable != result.nUnreadable)
        std::abort();
    for (size_t i = 0; i < dated.entries.size(); ++i)
    {
        const CFtpListEntry& a = result.entries[i];
        const CFtpListEntry& b = dated.entries[i];
        if (a.strName != b.strName || a.bDirectory != b.bDirectory || a.nSize != b.nSize)
            std::abort();
        if (a.nTimePrecision != EFtpTimePrecision::NONE &&
            (a.nTime != b.nTime || a.nTimePrecision != b.nTimePrecision))
            std::abort();
    }
    // A single line reads the same alone as in a listing without context.
    if (listing.find('\n') == std::string_view::npos)
    {
        CFtpListEntry entry;
        bool bEntry = CFtpListParser::ParseLine(listing, entry);
        if (bEntry != (result.entries.size() == 1) || (bEntry && !(entry == result.entries[0])))
            std::abort();
    }
    return 0;
}
