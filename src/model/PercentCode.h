#pragma once
// Bytes written as "%XX" where a text must not hold them as they are (names
// in line-based files, addresses). One coding; each caller says which bytes
// stay as they are.

#include <string>
#include <string_view>

// 0-15 for a hex digit of either case, else -1.
int HexValue(char c);

// bytes with every byte isKept(unsigned char) refuses written as "%XX"
// (upper-case digits).
template <class IsKept>
std::string PercentEncodeBytes(std::string_view bytes, IsKept isKept)
{
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    std::string str;
    str.reserve(bytes.size());
    for (char ch : bytes)
    {
        auto c = static_cast<unsigned char>(ch);
        if (isKept(c))
        {
            str += ch;
            continue;
        }
        str += '%';
        str += HEX_DIGITS[c >> 4];
        str += HEX_DIGITS[c & 0x0F];
    }
    return str;
}

// The bytes the "%XX" forms of strText stand for; false at a "%" without two
// hex digits after it.
bool PercentDecode(std::string_view strText, std::string* pBytes);

// The same, keeping such a "%" as it is: for files written by hand or by an
// older program, where a stray "%" is a plain character.
std::string PercentDecodeLenient(std::string_view strText);
