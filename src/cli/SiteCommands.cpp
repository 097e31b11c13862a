// sites, add, edit, remove, import: the document's site store.

#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "cli/CliDocHost.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "cli/TextTable.h"
#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/File.h"
#include "update/SiteConnection.h"

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

// --charset, --tls and --trust-on-first-use: the defaults leave no line behind.
bool ApplySiteOptions(CFTPSite& site, const CCommandLine& line)
{
    if (!line.m_strCharset && !line.m_strTls && !line.m_bTrustFirstUse)
        return true;
    try
    {
        site.UpdateSettings(
            [&line](CSiteSettings& settings)
            {
                using S = CSiteSettings;
                TlsMode nTls = TlsMode::off;
                if (line.m_strCharset)
                    settings.Set(S::CHARSET, *line.m_strCharset);
                if (line.m_strTls && ParseTlsMode(*line.m_strTls, &nTls))
                    settings.Set(S::TLS, nTls);
                if (line.m_bTrustFirstUse)
                    settings.Set(S::TLS_TRUST,
                                 *line.m_bTrustFirstUse ? TlsTrust::firstUse : TlsTrust::ca);
            });
    }
    catch (const CFileException& e)
    {
        ReportError("cannot write the site's options: " + std::string(e.what()));
        return false;
    }
    return true;
}

// The mode chosen and whom it trusts: "explicit", "try (pinned)", "try
// (first use)"...
std::string DescribeTls(const CSiteSettings& settings)
{
    CTlsSettings tls = settings.GetTls();
    std::string str = FormatTlsMode(settings.Get(CSiteSettings::TLS));
    if (tls.nMode == TlsMode::off)
        return str;
    if (!tls.strPin.empty())
        return str + " (pinned)";
    return tls.bTrustFirstUse ? str + " (first use)" : str;
}

bool AskYesNo(const std::string& strQuestion)
{
    std::printf("%s [y/N] ", strQuestion.c_str());
    std::fflush(stdout);
    std::string str;
    if (!std::getline(std::cin, str))
        return false;
    return str == "y" || str == "Y" || str == "yes";
}
} // namespace

int RunSites(CCliContext& ctx)
{
    CTextTable table;
    if (!ctx.line.m_bJson)
        table.AddRow({"KEY", "HOST", "PORT", "USER", "ANONYMOUS", "ANON-UPDATE", "CHARSET", "TLS",
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
        CSiteSettings settings = pSite->GetSettings();
        std::string strCharset = settings.GetCodec().GetCharset();
        CTlsSettings tls = settings.GetTls();
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
                           .Add("tls", FormatTlsMode(settings.Get(CSiteSettings::TLS)))
                           .Add("tlsTrust", tls.bTrustFirstUse ? TLS_TRUST_FIRST_USE : TLS_TRUST_CA)
                           .Add("tlsPin", tls.strPin)
                           .Finish()
                           .c_str(),
                       stdout);
            continue;
        }
        table.AddRow({strKey, strHost, std::to_string(pSite->m_nPort), strUser,
                      pSite->IsAnonymous() ? "yes" : "no", pSite->m_bAnonUpdate ? "yes" : "no",
                      strCharset, DescribeTls(settings), strNickname, strRemark});
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
    if (!ApplySiteOptions(*ctx.doc.m_siteList.back(), line))
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
    if (!ApplySiteOptions(*pSite, line))
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

int RunTrust(CCliContext& ctx)
{
    CFTPSite* pSite = FindSiteOrReport(ctx.doc, ctx.line.m_args[0]);
    if (pSite == nullptr)
        return EXIT_FAILED;
    std::string strKey = GetDisplayKey(*pSite);
    CTlsSettings tls = pSite->GetSettings().GetTls();
    if (tls.nMode == TlsMode::off)
    {
        ReportError("the site '" + strKey + "' does not use TLS (tarn-cli edit " + strKey +
                    " --tls explicit)");
        return EXIT_FAILED;
    }
    CTlsCertificate cert;
    std::string strError;
    if (!FetchSiteCertificate(*pSite, &cert, &strError))
    {
        ReportError("cannot read the certificate of " + strKey + ": " + strError);
        return EXIT_FAILED;
    }
    bool bSame = cert.strPin == tls.strPin;
    bool bTerminal = ::isatty(STDIN_FILENO) == 1 && !ctx.line.m_bJson;
    if (!ctx.line.m_bJson)
    {
        // The pin still decides, but nobody should trust a key unaware
        // that its certificate ran out.
        std::string strExpires = cert.strExpires + (cert.bExpired ? " (expired)" : "");
        std::printf("site:        %s\nsubject:     %s\nissuer:      %s\nexpires:     %s\n"
                    "fingerprint: %s\n",
                    PrintableText(strKey).c_str(), PrintableText(cert.strSubject).c_str(),
                    PrintableText(cert.strIssuer).c_str(), PrintableText(strExpires).c_str(),
                    cert.strPin.c_str());
        if (!tls.strPin.empty() && !bSame)
            std::printf("pinned now:  %s\n", tls.strPin.c_str());
    }
    bool bPin = !bSame && (ctx.line.m_bYes || (bTerminal && AskYesNo("Trust this certificate?")));
    if (bPin)
    {
        try
        {
            (void)TrustSiteCertificate(*pSite, cert.strPin);
        }
        catch (const CFileException& e)
        {
            ReportError("cannot write the site's options: " + std::string(e.what()));
            return EXIT_FAILED;
        }
    }
    if (ctx.line.m_bJson)
        std::fputs(CJsonLine()
                       .Add("key", strKey)
                       .Add("subject", cert.strSubject)
                       .Add("issuer", cert.strIssuer)
                       .Add("expires", cert.strExpires)
                       .Add("expired", cert.bExpired)
                       .Add("fingerprint", cert.strPin)
                       .Add("pinned", bSame || bPin)
                       .Finish()
                       .c_str(),
                   stdout);
    else if (bSame)
        std::printf("already trusted\n");
    else if (bPin)
        std::printf("trusted\n");
    if (bSame || bPin)
        return ResultOf(ctx.host);
    if (!bTerminal)
        ReportError("not trusted: confirm on a terminal or give --yes");
    return EXIT_FAILED;
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
            strWhat = "longer than " + std::to_string(IMPORT_LINE_LIMIT) + " bytes";
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
        case CImportNote::comment:
            strWhat = "a comment";
            break;
        case CImportNote::duplicate:
            strWhat = "the site exists already";
            break;
        }
        strWhat += "; skipped";
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
