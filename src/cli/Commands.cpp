#include "cli/Commands.h"

#include <cstdio>

#include "cli/CliDocHost.h"
#include "cli/CommandLine.h"

void ReportError(const std::string& strText)
{
    std::fprintf(stderr, "tarn-cli: %s\n", strText.c_str());
}

int RunCommand(CCliContext& ctx)
{
    struct CEntry
    {
        const char* pszName;
        int (*pfnRun)(CCliContext&);
    };
    static const CEntry COMMAND_TABLE[] = {
        {"sites", RunSites},   {"add", RunAdd},       {"edit", RunEdit}, {"remove", RunRemove},
        {"import", RunImport}, {"update", RunUpdate}, {"ls", RunLs},     {"new", RunNew},
        {"search", RunSearch}, {"read", RunRead},     {"url", RunUrl},   {"changes", RunChanges},
        {"stats", RunStats},   {"trust", RunTrust},   {"find", RunFind},     {"get", RunGet},
        {"schedule", RunSchedule},
    };
    for (const CEntry& entry : COMMAND_TABLE)
    {
        if (ctx.line.m_strCommand == entry.pszName)
            return entry.pfnRun(ctx);
    }
    return EXIT_USAGE; // the parser knows every command
}

int FinishRun(CCliContext& ctx, int nStatus, const CloseWaitFn& onWait)
{
    if (ctx.bClosed)
        return nStatus;
    ctx.bClosed = true;
    ctx.host.ForgetMessages();
    RunCloseSequence(ctx.doc, onWait);
    if (ctx.host.HasFailureMessage() && nStatus == EXIT_OK)
        return EXIT_FAILED;
    return nStatus;
}
