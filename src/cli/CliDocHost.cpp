#include "cli/CliDocHost.h"

#include <cstdio>

#include "cli/CliSignals.h"

void CCliDocHost::ShowMessage(const std::string& strText)
{
    std::fprintf(stderr, "%s\n", strText.c_str());
    m_messages.push_back(strText);
}

bool CCliDocHost::PumpWaitingMessages()
{
    return GetInterruptCount() == 0;
}

bool CCliDocHost::HasFailureMessage() const
{
    for (const std::string& str : m_messages)
    {
        if (str != "没有未读文件！" && str != "对不起，没有找到你要的文件！")
            return true;
    }
    return false;
}
