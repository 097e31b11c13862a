// sites, add, edit, remove, import: the document's site store.

#include <cstdio>
#include <iostream>

#include "cli/CliDocHost.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "cli/TextTable.h"
#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/File.h"

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

// The key as stored, or as shown (an old site.ds may hold GBK bytes).
CFTPSite* FindSiteOrReport(CTarnDoc& doc, const std::string& strKey)
{
    if (CFTPSite* pSite = doc.FindSite(strKey))
        return pSite;
    for (const auto& pSite : doc.m_siteList)
    {
        if (GetDisplayKey(*pSite) == strKey)
            return pSite.get();
    }
    ReportError("no site has the key '" + strKey + "'");
    return nullptr;
}

// --charset: "auto" is the default and leaves no line behind.
bool ApplyCharset(CFTPSite& site, const CCommandLine& line)
{
    if (!line.m_strCharset)
        return true;
    try
    {
        site.UpdateOptions(
            [&line](CSiteOptions& options)
            {
                if (*line.m_strCharset == CHARSET_AUTO)
                    options.Remove(OPTION_CHARSET);
                else
                    (void)options.Set(OPTION_CHARSET, *line.m_strCharset);
            });
    }
    catch (const CFileException& e)
    {
        ReportError("cannot write the site's options: " + std::string(e.what()));
        return false;
    }
    return true;
}
} // namespace

int RunSites(CCliContext& ctx)
{
    CTextTable table;
    if (!ctx.line.m_bJson)
        table.AddRow({"KEY", "HOST", "PORT", "USER", "ANONYMOUS", "ANON-UPDATE", "CHARSET",
                      "NICKNAME", "REMARK"});
    table.AlignRight(2);
    for (const auto& pSite : ctx.doc.m_siteList)
    {
        // site.ds written on a Chinese system holds GBK bytes.
        std::string strKey = GetDisplayKey(*pSite);
        std::string strHost = DecodeAuto(pSite->m_strHost);
        std::string strUser = DecodeAuto(pSite->m_strUser);
        std::string strNickname = DecodeAuto(pSite->m_strNickname);
        std::string strRemark = DecodeAuto(pSite->m_strRemark);
        std::string strCharset = pSite->GetCodec().GetCharset();
        if (ctx.line.m_bJson)
        {
            std::fputs(CJsonLine()
                           .Add("key", strKey)
                           .Add("host", strHost)
                           .Add("port", pSite->m_nPort)
                           .Add("user", strUser)
                           .Add("nickname", strNickname)
                           .Add("remark", strRemark)
                           .Add("anonymous", pSite->IsAnonymous())
                           .Add("anonUpdate", pSite->m_bAnonUpdate)
                           .Add("charset", strCharset)
                           .Finish()
                           .c_str(),
                       stdout);
            continue;
        }
        table.AddRow({strKey, strHost, std::to_string(pSite->m_nPort), strUser,
                      pSite->IsAnonymous() ? "yes" : "no", pSite->m_bAnonUpdate ? "yes" : "no",
                      strCharset, strNickname, strRemark});
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
    if (!ApplyCharset(*ctx.doc.m_siteList.back(), line))
        return EXIT_FAILED;
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
    if (!ApplyCharset(*pSite, line))
        return EXIT_FAILED;
    return ResultOf(ctx.host);
}

int RunRemove(CCliContext& ctx)
{
    CFTPSite* pSite = FindSiteOrReport(ctx.doc, ctx.line.m_args[0]);
    if (pSite == nullptr)
        return EXIT_FAILED;
    if (!ctx.doc.DeleteSite(pSite->GetKey()))
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
        std::string strText = DecodeAuto(strKey);
        if (ctx.line.m_bJson)
            std::fputs(CJsonLine().Add("key", strText).Finish().c_str(), stdout);
        else
            std::printf("added %s\n", PrintableText(strText).c_str());
    }
    // "无法打开所选文件！", a file too large, or a save failure is on stderr.
    return bImported ? ResultOf(ctx.host) : EXIT_FAILED;
}
