#pragma once
// JSON lines for tarn-cli's --json output: one flat object per line.
//
// Names reach it decoded from their site's character set; should any byte
// sequence still not be well-formed UTF-8, it becomes U+FFFD, so each line is
// valid UTF-8 and valid JSON whatever the server sent.

#include <cstdint>
#include <string>
#include <string_view>

// strText as a JSON string literal, quotes included.
std::string JsonString(std::string_view strText);

// Builds one object: keys in the order added.
class CJsonLine
{
public:
    CJsonLine& Add(std::string_view strKey, std::string_view strValue);
    CJsonLine& Add(std::string_view strKey, const char* pszValue)
    {
        return Add(strKey, std::string_view(pszValue));
    }
    CJsonLine& Add(std::string_view strKey, const std::string& strValue)
    {
        return Add(strKey, std::string_view(strValue));
    }
    CJsonLine& Add(std::string_view strKey, int64_t nValue);
    CJsonLine& Add(std::string_view strKey, int32_t nValue)
    {
        return Add(strKey, static_cast<int64_t>(nValue));
    }
    CJsonLine& Add(std::string_view strKey, uint64_t nValue);
    CJsonLine& Add(std::string_view strKey, bool bValue);
    // The object and a line feed.
    std::string Finish() const { return m_strText + "}\n"; }

private:
    void Key(std::string_view strKey);
    std::string m_strText = "{";
};
