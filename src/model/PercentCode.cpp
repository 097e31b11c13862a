#include "model/PercentCode.h"

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace
{
// The byte "%XX" at strText[i] stands for, or -1.
int EscapedAt(std::string_view strText, size_t i)
{
    if (strText[i] != '%' || i + 2 >= strText.size())
        return -1;
    int nHigh = HexValue(strText[i + 1]);
    int nLow = HexValue(strText[i + 2]);
    return nHigh < 0 || nLow < 0 ? -1 : nHigh * 16 + nLow;
}
} // namespace

bool PercentDecode(std::string_view strText, std::string* pBytes)
{
    pBytes->clear();
    pBytes->reserve(strText.size());
    for (size_t i = 0; i < strText.size(); ++i)
    {
        if (strText[i] != '%')
        {
            *pBytes += strText[i];
            continue;
        }
        int nByte = EscapedAt(strText, i);
        if (nByte < 0)
            return false;
        *pBytes += static_cast<char>(nByte);
        i += 2;
    }
    return true;
}

std::string PercentDecodeLenient(std::string_view strText)
{
    std::string strBytes;
    strBytes.reserve(strText.size());
    for (size_t i = 0; i < strText.size(); ++i)
    {
        int nByte = EscapedAt(strText, i);
        if (nByte < 0)
        {
            strBytes += strText[i];
            continue;
        }
        strBytes += static_cast<char>(nByte);
        i += 2;
    }
    return strBytes;
}
