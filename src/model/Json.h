#pragma once
// Flat JSON objects, one per line: tarn-cli's --json output, the export's
// JSON lines and each site's change log.
//
// Names reach the writer decoded from their site's character set; should any
// byte sequence still not be well-formed UTF-8, it becomes U+FFFD, so each
// line is valid UTF-8 and valid JSON whatever the server sent. The reader
// takes back what the writer writes (and any other flat object); it refuses
// nesting, which none of these files use.
//
// Threads: plain values, any thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // The shortest text that reads back as the same double.
    CJsonLine& Add(std::string_view strKey, double dValue);
    CJsonLine& AddNull(std::string_view strKey);
    // An array of strings (the one nesting a writer makes; ReadJsonLine
    // does not read it back).
    CJsonLine& Add(std::string_view strKey, const std::vector<std::string>& values);
    // The object and a line feed.
    std::string Finish() const { return m_strText + "}\n"; }

private:
    void Key(std::string_view strKey);
    std::string m_strText = "{";
};

// One flat object read back: strings decoded, numbers and literals as their
// JSON text. A key given twice keeps its last value.
class CJsonFields
{
public:
    enum Type
    {
        string,
        number,
        literal, // true, false, null
    };
    struct CValue
    {
        Type nType = string;
        std::string strText;
    };

    // A string value, or nothing (missing key, or not a string).
    std::optional<std::string> GetString(std::string_view strKey) const;
    // A non-negative integer, or nothing.
    std::optional<uint64_t> GetUnsigned(std::string_view strKey) const;
    // true / false, or nothing.
    std::optional<bool> GetBool(std::string_view strKey) const;
    bool Has(std::string_view strKey) const { return m_values.find(strKey) != m_values.end(); }
    const std::map<std::string, CValue, std::less<>>& GetValues() const { return m_values; }

private:
    friend bool ReadJsonLine(std::string_view strLine, CJsonFields* pFields);
    std::map<std::string, CValue, std::less<>> m_values;
};

// Reads one object (surrounding blanks and a line end allowed). False for
// anything else: a line cut short, nesting, text after the object.
[[nodiscard]] bool ReadJsonLine(std::string_view strLine, CJsonFields* pFields);
