#pragma once
// One step of the browsing history: the folder on display. The fields of a
// result state (keyword, scope) exist but the program records folder states
// only.

#include <cstdint>
#include <string>

class CFTPDir;

class CBrowseState
{
public:
    CFTPDir* m_pDir = nullptr; // not owning
    std::string m_strKeyword;
    int32_t m_nScope = 0;
    int32_t m_bUnread = 0;
};
