#pragma once
// One key of a site's options.ini, declared once: its name, the type of its
// value, its default, how its text reads and how a value is written. A
// declaration reads and writes the lines of a CSiteOptions, so whatever else
// the file holds (unknown keys, comments, damaged lines) stays as it is.
//
//   No line for the key: the default.
//   A text that does not read as the type, or that the declaration's check
//   refuses (a newer program's value, a typo): the default as well, unless
//   the declaration says what such a text means (Unreadable). The line
//   itself stays until a value is written.
//   Writing a choice at its default drops its line, so the default can
//   improve later; a note or figure the program keeps is written whatever
//   its value (AlwaysWritten).
//
// Value types: std::string, int64_t, uint64_t, bool (written "yes" or "no";
// "on", "off", "true", "false", "1" and "0" read too), an enum with a
// CSettingNames table, and std::optional of one of them (no line: nullopt).
// A new key is one declaration in CSiteSettings (SiteSettings.h), e.g.
//   static constexpr CSiteSetting<int64_t> LISTING_TIMEOUT =
//       CSiteSetting<int64_t>("listing_timeout", 300).Checked(&IsPositive);
//
// Threads: declarations are constants, usable from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "model/SiteOptions.h"

// The names an enum's values have in options.ini: specialise with
//   static constexpr CSettingName<E> NAMES[] = {{"name", E::value}, ...};
template <typename E> struct CSettingName
{
    std::string_view name;
    E value;
};
template <typename E> struct CSettingNames;

template <typename E>
concept NamedSetting = std::is_enum_v<E> && requires
{
    CSettingNames<E>::NAMES;
};

[[nodiscard]] bool ReadSettingText(std::string_view text, std::string* pValue);
[[nodiscard]] bool ReadSettingText(std::string_view text, int64_t* pValue);
[[nodiscard]] bool ReadSettingText(std::string_view text, uint64_t* pValue);
[[nodiscard]] bool ReadSettingText(std::string_view text, bool* pValue);
template <NamedSetting E> [[nodiscard]] bool ReadSettingText(std::string_view text, E* pValue)
{
    for (const CSettingName<E>& entry : CSettingNames<E>::NAMES)
    {
        if (entry.name == text)
        {
            *pValue = entry.value;
            return true;
        }
    }
    return false;
}

std::string WriteSettingText(const std::string& value);
std::string WriteSettingText(int64_t nValue);
std::string WriteSettingText(uint64_t nValue);
std::string WriteSettingText(bool bValue);
// The name of an enum's value; the first name for a value without one.
template <NamedSetting E> constexpr const char* SettingName(E value)
{
    for (const CSettingName<E>& entry : CSettingNames<E>::NAMES)
    {
        if (entry.value == value)
            return entry.name.data();
    }
    return CSettingNames<E>::NAMES[0].name.data();
}
template <NamedSetting E> std::string WriteSettingText(E value)
{
    return SettingName(value);
}

template <typename T> class CSiteSetting
{
    template <typename U> struct CUnwrap
    {
        using Type = U;
        static constexpr bool OPTIONAL = false;
    };
    template <typename U> struct CUnwrap<std::optional<U>>
    {
        using Type = U;
        static constexpr bool OPTIONAL = true;
    };

public:
    // The type of one value, without the optional around it.
    using Item = typename CUnwrap<T>::Type;
    // Texts are kept as views of literals, so declarations are constants.
    using Stored = std::conditional_t<std::is_same_v<T, std::string>, std::string_view, T>;
    // Accepts a value read from its text, and may respell it ("gbk" ->
    // "GB18030"); false: the text counts as unreadable.
    using Check = bool (*)(Item& value);

    constexpr CSiteSetting(const char* pszKey, Stored defaultValue)
        : m_pszKey(pszKey), m_default(defaultValue), m_unreadable(defaultValue)
    {
    }
    constexpr CSiteSetting Checked(Check pfnCheck) const
    {
        CSiteSetting setting = *this;
        setting.m_pfnCheck = pfnCheck;
        return setting;
    }
    constexpr CSiteSetting Unreadable(Stored value) const
    {
        CSiteSetting setting = *this;
        setting.m_unreadable = value;
        return setting;
    }
    constexpr CSiteSetting AlwaysWritten() const
    {
        CSiteSetting setting = *this;
        setting.m_bAlwaysWritten = true;
        return setting;
    }

    constexpr const char* GetKey() const { return m_pszKey; }
    T GetDefault() const { return T(m_default); }

    T Get(const CSiteOptions& options) const
    {
        std::optional<std::string> text = options.Find(m_pszKey);
        if (!text)
            return T(m_default);
        Item value{};
        if (ReadSettingText(*text, &value) && (m_pfnCheck == nullptr || m_pfnCheck(value)))
            return T(std::move(value));
        return T(m_unreadable);
    }

    void Set(CSiteOptions& options, const T& value) const
    {
        if (!m_bAlwaysWritten && value == T(m_default))
        {
            options.Remove(m_pszKey);
            return;
        }
        if constexpr (CUnwrap<T>::OPTIONAL)
        {
            if (!value)
                options.Remove(m_pszKey);
            else
                (void)options.Set(m_pszKey, WriteSettingText(*value));
        }
        else
            (void)options.Set(m_pszKey, WriteSettingText(value));
    }

private:
    const char* m_pszKey;
    Stored m_default;
    Stored m_unreadable;
    Check m_pfnCheck = nullptr;
    bool m_bAlwaysWritten = false;
};
