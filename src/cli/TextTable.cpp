#include "cli/TextTable.h"

#include <algorithm>
#include <cwchar>

namespace
{
// Decodes one UTF-8 character at p; 0 when the bytes are not well formed.
size_t DecodeUtf8(const unsigned char* p, size_t n, char32_t* pch)
{
    unsigned char c = p[0];
    size_t nLength;
    char32_t ch;
    if (c < 0x80)
    {
        *pch = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF)
    {
        nLength = 2;
        ch = c & 0x1F;
    }
    else if (c >= 0xE0 && c <= 0xEF)
    {
        nLength = 3;
        ch = c & 0x0F;
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        nLength = 4;
        ch = c & 0x07;
    }
    else
        return 0;
    if (n < nLength)
        return 0;
    for (size_t i = 1; i < nLength; ++i)
    {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        ch = (ch << 6) | (p[i] & 0x3F);
    }
    *pch = ch;
    return nLength;
}

size_t CellWidth(char32_t ch)
{
    int n = ::wcwidth(static_cast<wchar_t>(ch));
    if (n >= 0)
        return static_cast<size_t>(n);
    // No UTF-8 locale (or an unassigned code point): guess the wide ranges.
    if (ch >= 0x1100 && (ch <= 0x115F || (ch >= 0x2E80 && ch <= 0xA4CF) ||
                         (ch >= 0xAC00 && ch <= 0xD7A3) || (ch >= 0xF900 && ch <= 0xFAFF) ||
                         (ch >= 0xFF00 && ch <= 0xFF60) || (ch >= 0x20000 && ch <= 0x3FFFD)))
        return 2;
    return 1;
}
// Code points that are shown escaped: C0 and C1 controls, DEL, and the
// ones that change the direction or break the line of what follows.
bool IsHidden(char32_t ch)
{
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || ch == 0x061C || ch == 0x200E ||
           ch == 0x200F || (ch >= 0x2028 && ch <= 0x202E) || (ch >= 0x2066 && ch <= 0x2069);
}
} // namespace

std::string PrintableText(std::string_view strText)
{
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    const auto* p = reinterpret_cast<const unsigned char*>(strText.data());
    size_t n = strText.size();
    std::string str;
    str.reserve(n);
    for (size_t i = 0; i < n;)
    {
        char32_t ch = 0;
        size_t nLength = DecodeUtf8(p + i, n - i, &ch);
        if (nLength == 0)
        {
            str += static_cast<char>(p[i++]); // a stray byte is no control
            continue;
        }
        if (!IsHidden(ch))
            str.append(strText.substr(i, nLength));
        else if (ch < 0x80)
        {
            str += "\\x";
            str += HEX_DIGITS[ch >> 4];
            str += HEX_DIGITS[ch & 0xF];
        }
        else
        {
            str += "\\u";
            for (int nShift = 12; nShift >= 0; nShift -= 4)
                str += HEX_DIGITS[(ch >> nShift) & 0xF];
        }
        i += nLength;
    }
    return str;
}

size_t DisplayWidth(std::string_view strText)
{
    const auto* p = reinterpret_cast<const unsigned char*>(strText.data());
    size_t n = strText.size();
    size_t nWidth = 0;
    for (size_t i = 0; i < n;)
    {
        char32_t ch = 0;
        size_t nLength = DecodeUtf8(p + i, n - i, &ch);
        if (nLength == 0 || ch < 0x20 || ch == 0x7F)
        {
            nWidth += 1; // a stray byte or a control character shows as one cell
            i += nLength == 0 ? 1 : nLength;
            continue;
        }
        nWidth += CellWidth(ch);
        i += nLength;
    }
    return nWidth;
}

void CTextTable::AddRow(std::vector<std::string> cells)
{
    for (std::string& cell : cells)
        cell = PrintableText(cell);
    m_rows.push_back(std::move(cells));
}

void CTextTable::AlignRight(size_t nColumn)
{
    if (m_rightAligned.size() <= nColumn)
        m_rightAligned.resize(nColumn + 1, false);
    m_rightAligned[nColumn] = true;
}

void CTextTable::SetMinWidth(size_t nColumn, size_t nWidth)
{
    if (m_minWidths.size() <= nColumn)
        m_minWidths.resize(nColumn + 1, 0);
    m_minWidths[nColumn] = nWidth;
}

void CTextTable::Print(std::FILE* pFile) const
{
    std::vector<size_t> widths = m_minWidths;
    for (const auto& row : m_rows)
    {
        if (widths.size() < row.size())
            widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], std::min(DisplayWidth(row[i]), MAX_COLUMN_WIDTH));
    }
    std::string strLine;
    for (const auto& row : m_rows)
    {
        strLine.clear();
        size_t nContentEnd = 0;
        for (size_t i = 0; i < row.size(); ++i)
        {
            size_t nPad = widths[i] - std::min(widths[i], DisplayWidth(row[i]));
            bool bRight = i < m_rightAligned.size() && m_rightAligned[i];
            if (bRight)
                strLine.append(nPad, ' ');
            strLine += row[i];
            if (!row[i].empty())
                nContentEnd = strLine.size();
            if (!bRight)
                strLine.append(nPad, ' ');
            strLine += "  ";
        }
        strLine.resize(nContentEnd);
        strLine += '\n';
        std::fwrite(strLine.data(), 1, strLine.size(), pFile);
    }
}
