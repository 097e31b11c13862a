#include "search/NameFold.h"

#include <utf8proc.h>

bool FoldAscii(std::string_view text, std::string* pOut)
{
    pOut->resize(text.size());
    char* pTo = pOut->data();
    unsigned char nAll = 0;
    for (char c : text)
    {
        nAll |= static_cast<unsigned char>(c);
        *pTo++ = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return nAll < 0x80;
}

void FoldCase(std::string_view text, std::string* pOut)
{
    // Most names are ASCII through and through: one pass, no tables.
    if (FoldAscii(text, pOut))
        return;
    pOut->clear();
    pOut->reserve(text.size());
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t nLeft = text.size();
    while (nLeft > 0)
    {
        // Most names are ASCII: no table needed.
        if (*p < 0x80)
        {
            char c = static_cast<char>(*p);
            pOut->push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
            ++p;
            --nLeft;
            continue;
        }
        utf8proc_int32_t nCode = 0;
        utf8proc_ssize_t nLen = utf8proc_iterate(p, static_cast<utf8proc_ssize_t>(nLeft), &nCode);
        if (nLen <= 0)
        {
            pOut->push_back(static_cast<char>(*p));
            ++p;
            --nLeft;
            continue;
        }
        utf8proc_int32_t folded[8];
        int nBoundClass = 0;
        utf8proc_ssize_t nOut =
            utf8proc_decompose_char(nCode, folded, 8, UTF8PROC_CASEFOLD, &nBoundClass);
        if (nOut <= 0 || nOut > 8)
        {
            pOut->append(reinterpret_cast<const char*>(p), static_cast<size_t>(nLen));
        }
        else
        {
            for (utf8proc_ssize_t i = 0; i < nOut; ++i)
            {
                utf8proc_uint8_t buf[4];
                utf8proc_ssize_t nBytes = utf8proc_encode_char(folded[i], buf);
                pOut->append(reinterpret_cast<const char*>(buf), static_cast<size_t>(nBytes));
            }
        }
        p += nLen;
        nLeft -= static_cast<size_t>(nLen);
    }
}

std::string FoldCase(std::string_view text)
{
    std::string strOut;
    FoldCase(text, &strOut);
    return strOut;
}
