#include "doc/FormatSize.h"

#include <cstdio>

std::string FormatSize(int64_t nSize)
{
    char szText[64];
    if (nSize < 1024)
    {
        // Its low 32 bits, as the list has always shown them.
        std::snprintf(szText, sizeof(szText), "%d字节",
                      static_cast<int32_t>(static_cast<uint32_t>(nSize)));
    }
    else if (nSize < 1048576)
        std::snprintf(szText, sizeof(szText), "%.2fK", static_cast<double>(nSize) / 1024.0);
    else if (nSize < 1073741824)
        std::snprintf(szText, sizeof(szText), "%.2fM", static_cast<double>(nSize) / 1048576.0);
    else
        std::snprintf(szText, sizeof(szText), "%.2fG", static_cast<double>(nSize) / 1073741824.0);
    return szText;
}
