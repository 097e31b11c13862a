// sites, add, edit, remove, import: the document's site store.

#include <cstdio>
#include <iostream>

#include "cli/CliDocHost.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "cli/TextTable.h"
#include "doc/TarnDoc.h"

namespace
{
// "--password -" keeps the password out of the process list.
bool ResolvePassword(const CCommandLine& line, std::string* pstrPassword)
{
    if (!line.m_strPassword)
        return true;
    if (*line.m_strPassword != "-")
    {
        *pstrPassword = *line.m_strPassword;
        return true;
    }
    std::string str;
    if (!std::getline(std::cin, str))
    {
        ReportError("no password on stdin");
        return false;
    }
    if (!str.empty() && str.back() == '\r')
        str.pop_back();
    *pstrPassword = str;
    return true;
}

// A change that the document reported through a message box failed.
int ResultOf(const CCliDocHost& host)
{
    return host.HasFailureMessage() ? EXIT_FAILED : EXIT_OK;
}

CFTPSite* FindSiteOrReport(CTarnDoc& doc, const std::string& strKey)
{
    CFTPSite* pSite = doc.FindSite(strKey);
    if (pSite == nullptr)
        ReportError("no site has the key '" + strKey + "'");
    return pSite;
}
} // namespace

int RunSites(CCliContext& ctx)
{
    CTextTable table;
    if (!ctx.line.m_bJson)
        table.AddRow(
            {"KEY", "HOST", "PORT", "USER", "ANONYMOUS", "ANON-UPDATE", "NICKNAME", "REMARK"});
    table.AlignRight(2);
    for (const auto& pSite : ctx.doc.m_siteList)
    {
        if (ctx.line.m_bJson)
        {
            std::fputs(CJsonLine()
                           .Add("key", pSite->GetKey())
                           .Add("host", pSite->m_strHost)
                           .Add("port", pSite->m_nPort)
                           .Add("user", pSite->m_strUser)
                           .Add("nickname", pSite->m_strNickname)
                           .Add("remark", pSite->m_strRemark)
                           .Add("anonymous", pSite->IsAnonymous())
                           .Add("anonUpdate", pSite->m_bAnonUpdate)
                           .Finish()
                           .c_str(),
                       stdout);
            continue;
        }
        table.AddRow({pSite->GetKey(), pSite->m_strHost, std::to_string(pSite->m_nPort),
                      pSite->m_strUser, pSite->IsAnonymous() ? "yes" : "no",
                      pSite->m_bAnonUpdate ? "yes" : "no", pSite->m_strNickname,
                      pSite->m_strRemark});
    }
    if (!ctx.line.m_bJson && !ctx.doc.m_siteList.empty())
        table.Print(stdout);
    return EXIT_OK;
}

int RunAdd(CCliContext& ctx)
{
    const CCommandLine& line = ctx.line;
    CSiteInfo info;
    info.m_strHost = *line.m_strHost;
    info.m_nPort = line.m_nPort.value_or(21);
    // No user given: the anonymous login, as for a bare host in an import file.
    info.m_bAnonymous = line.m_bAnonymous || !line.m_strUser;
    info.m_strUser = line.m_strUser.value_or("");
    if (!ResolvePassword(line, &info.m_strPassword))
        return EXIT_FAILED;
    info.m_bAnonUpdate = line.m_bAnonUpdate.value_or(false);
    info.m_strNickname = line.m_strNickname.value_or("");
    info.m_strRemark = line.m_strRemark.value_or("");
    if (!ctx.doc.AddSite(info))
        return EXIT_FAILED; // "站点已有！" is on stderr
    return ResultOf(ctx.host);
}

int RunEdit(CCliContext& ctx)
{
    const CCommandLine& line = ctx.line;
    CFTPSite* pSite = FindSiteOrReport(ctx.doc, line.m_args[0]);
    if (pSite == nullptr)
        return EXIT_FAILED;
    CSiteInfo info;
    info.m_strHost = line.m_strHost.value_or(pSite->m_strHost);
    info.m_nPort = line.m_nPort.value_or(pSite->m_nPort);
    info.m_bAnonUpdate = line.m_bAnonUpdate.value_or(pSite->m_bAnonUpdate);
    info.m_strNickname = line.m_strNickname.value_or(pSite->m_strNickname);
    info.m_strRemark = line.m_strRemark.value_or(pSite->m_strRemark);
    info.m_bAnonymous = line.m_bAnonymous;
    if (!line.m_bAnonymous)
    {
        bool bWasAnonymous = pSite->IsAnonymous();
        bool bNewLogin = line.m_strUser || line.m_strPassword;
        info.m_bAnonymous = bWasAnonymous && !bNewLogin;
        info.m_strUser = line.m_strUser.value_or(pSite->m_strUser);
        // An anonymous site given a user name does not keep the placeholder.
        info.m_strPassword = bWasAnonymous ? "" : pSite->m_strPassword;
        if (!ResolvePassword(line, &info.m_strPassword))
            return EXIT_FAILED;
    }
    if (!ctx.doc.ModifySite(pSite, info))
        return EXIT_FAILED;
    return ResultOf(ctx.host);
}

int RunRemove(CCliContext& ctx)
{
    const std::string& strKey = ctx.line.m_args[0];
    if (FindSiteOrReport(ctx.doc, strKey) == nullptr)
        return EXIT_FAILED;
    if (!ctx.doc.DeleteSite(strKey))
        return EXIT_FAILED;
    return ResultOf(ctx.host);
}

int RunImport(CCliContext& ctx)
{
    const std::string& strPath = ctx.line.m_args[0];
    CImportResult result;
    bool bImported = ctx.doc.ImportSites(strPath, &result);
    for (const CImportNote& note : result.m_notes)
    {
        std::string strWhat;
        switch (note.m_nKind)
        {
        case CImportNote::lineTooLong:
            strWhat = "longer than " + std::to_string(IMPORT_LINE_LIMIT) + " bytes; skipped";
            break;
        case CImportNote::emptyHost:
            strWhat = "the host is empty";
            break;
        case CImportNote::badPort:
            strWhat = "the port " + std::to_string(note.m_nPort) + " is outside 1-65535";
            break;
        case CImportNote::controlCharacters:
            strWhat = "the line holds control characters";
            break;
        }
        ReportError("warning: " + strPath + ":" + std::to_string(note.m_nLine) + ": " + strWhat);
    }
    for (const std::string& strKey : result.m_addedKeys)
    {
        if (ctx.line.m_bJson)
            std::fputs(CJsonLine().Add("key", strKey).Finish().c_str(), stdout);
        else
            std::printf("added %s\n", PrintableText(strKey).c_str());
    }
    // "无法打开所选文件！", a file too large, or a save failure is on stderr.
    return bImported ? ResultOf(ctx.host) : EXIT_FAILED;
}
