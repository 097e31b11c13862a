#include "model/SiteSetting.h"

#include <charconv>

namespace
{
template <typename N> bool ReadNumber(std::string_view text, N* pValue)
{
    N n{};
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || p != text.data() + text.size() || text.empty())
        return false;
    *pValue = n;
    return true;
}
} // namespace

bool ReadSettingText(std::string_view text, std::string* pValue)
{
    *pValue = text;
    return true;
}

bool ReadSettingText(std::string_view text, int64_t* pValue)
{
    return ReadNumber(text, pValue);
}

bool ReadSettingText(std::string_view text, uint64_t* pValue)
{
    return ReadNumber(text, pValue);
}

bool ReadSettingText(std::string_view text, bool* pValue)
{
    // Hand-edited files say it in more than one way.
    for (std::string_view yes : {"yes", "on", "true", "1"})
    {
        if (text == yes)
        {
            *pValue = true;
            return true;
        }
    }
    for (std::string_view no : {"no", "off", "false", "0"})
    {
        if (text == no)
        {
            *pValue = false;
            return true;
        }
    }
    return false;
}

std::string WriteSettingText(const std::string& value)
{
    return value;
}

std::string WriteSettingText(int64_t nValue)
{
    return std::to_string(nValue);
}

std::string WriteSettingText(uint64_t nValue)
{
    return std::to_string(nValue);
}

std::string WriteSettingText(bool bValue)
{
    return bValue ? "yes" : "no";
}
