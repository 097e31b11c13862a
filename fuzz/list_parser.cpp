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
