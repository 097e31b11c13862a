// changes, stats: the sites' change logs and figures.

#include <cstdio>

#include "cli/CliDocHost.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"
#include "doc/ChangeListing.h"
#include "doc/FormatSize.h"
#include "doc/NodeAddress.h"
#include "doc/SiteInfo.h"
#include "doc/TarnDoc.h"
#include "model/Json.h"
#include "model/ProgramFolder.h"

namespace
{
// "12 folders, 340 files": what a "first" line found or a removed folder held.
std::string HeldText(const CChangeRecord& record)
{
    return std::to_string(record.nFolders) + " folders, " + std::to_string(record.nFiles) +
           " files";
}

void AddChangeRow(CTextTable& table, const std::string& strAddress, const CChangeRecord& record)
{
    std::string strSize;
    std::string strWas;
    std::string strWhere = strAddress;
    if (record.bFolder && !strWhere.ends_with('/'))
        strWhere += '/';
    auto sizeText = [](uint64_t n) { return FormatSize(static_cast<int64_t>(n)); };
    switch (record.nKind)
    {
    case ChangeKind::added:
        strSize = record.bFolder ? "" : sizeText(record.nSize);
        break;
    case ChangeKind::resized:
        strSize = sizeText(record.nSize);
        strWas = "was " + sizeText(record.nOldSize);
        break;
    case ChangeKind::modified:
        strSize = sizeText(record.nSize);
        strWas = "was " + record.strOldMtime;
        break;
    case ChangeKind::removed:
        if (record.bFolder)
        {
            strWas = "was " + sizeText(record.nBytes);
            strWhere += " (" + HeldText(record) + ")";
        }
        else
            strWas = "was " + sizeText(record.nOldSize);
        break;
    case ChangeKind::first:
        strSize = sizeText(record.nBytes);
        strWhere += " (" + HeldText(record) + ")";
        break;
    }
    table.AddRow({record.strTime, FormatChangeKind(record.nKind), strSize, strWas, strWhere});
}

// The sites the arguments name (all when none); false after reporting a key
// no site has.
bool ChooseSites(CCliContext& ctx, std::vector<CFTPSite*>* pSites)
{
    if (ctx.line.m_args.empty())
    {
        for (const auto& pSite : ctx.doc.m_siteList)
            pSites->push_back(pSite.get());
        return true;
    }
    for (const std::string& strKey : ctx.line.m_args)
    {
        size_t nPathStart = 0;
        CFTPSite* pSite = ctx.doc.FindSiteByAddress(strKey, &nPathStart);
        if (pSite == nullptr)
        {
            ReportError("no site has the key of '" + strKey + "'");
            return false;
        }
        pSites->push_back(pSite);
    }
    return true;
}

void AddOptionalText(CJsonLine& line, const char* pszKey, const std::optional<CRunFigures>& run,
                     const std::string CRunFigures::*pMember)
{
    if (run)
        line.Add(pszKey, (*run).*pMember);
    else
        line.AddNull(pszKey);
}

void AddOptionalNumber(CJsonLine& line, const char* pszKey, const std::optional<CRunFigures>& run,
                       uint64_t CRunFigures::*pMember)
{
    if (run)
        line.Add(pszKey, (*run).*pMember);
    else
        line.AddNull(pszKey);
}
} // namespace

int RunChanges(CCliContext& ctx)
{
    CChangeQuery query;
    if (ctx.line.m_strSince)
    {
        CWallTime since;
        (void)ParseIsoTime(*ctx.line.m_strSince, &since); // checked by the parser
        query.since = since;
    }
    std::vector<CFTPSite*> sites;
    if (!ctx.line.m_args.empty())
    {
        size_t nPathStart = 0;
        const std::string& strTarget = ctx.line.m_args[0];
        CFTPSite* pSite = ctx.doc.FindSiteByAddress(strTarget, &nPathStart);
        if (pSite == nullptr)
        {
            ReportError("no site has the key of '" + strTarget + "'");
            return EXIT_FAILED;
        }
        // A removed entry is no longer cached: the path is taken as text.
        query.strPath = strTarget.substr(nPathStart);
        sites.push_back(pSite);
    }
    else
    {
        for (const auto& pSite : ctx.doc.m_siteList)
            sites.push_back(pSite.get());
    }

    CTextTable table;
    table.AlignRight(2);
    for (CFTPSite* pSite : sites)
    {
        size_t nDamaged = 0;
        std::vector<CChangeRecord> records = ReadSiteChanges(*pSite, query, &nDamaged);
        if (nDamaged > 0)
            ReportError("warning: " + GetChangeLogPath(GetProgramFolder(), pSite->GetKey()) + ": " +
                        std::to_string(nDamaged) + " damaged lines skipped");
        std::string strKey = GetDisplayKey(*pSite);
        for (const CChangeRecord& record : records)
        {
            std::string strAddress = "ftp://" + strKey + record.strPath;
            if (!ctx.line.m_bJson)
            {
                AddChangeRow(table, strAddress, record);
                continue;
            }
            CJsonLine line;
            line.Add("key", strKey);
            AddChangeFields(line, record);
            line.Add("address", strAddress);
            std::fputs(line.Finish().c_str(), stdout);
        }
    }
    if (!ctx.line.m_bJson)
        table.Print(stdout);
    return EXIT_OK;
}

int RunStats(CCliContext& ctx)
{
    std::vector<CFTPSite*> sites;
    if (!ChooseSites(ctx, &sites))
        return EXIT_FAILED;
    bool bFirst = true;
    for (CFTPSite* pSite : sites)
    {
        CSiteStats stats = GetSiteStats(ctx.doc, *pSite);
        CTreeTotals totals = stats.totals.value_or(CTreeTotals{});
        const std::optional<CRunFigures>& run = stats.run;
        std::string strKey = GetDisplayKey(*pSite);
        CNameCodec codec = pSite->GetCodec();
        if (ctx.line.m_bJson)
        {
            CJsonLine line;
            line.Add("key", strKey)
                .Add("folders", totals.nFolders)
                .Add("files", totals.nFiles)
                .Add("bytes", totals.nBytes)
                .Add("unread", totals.nUnread);
            AddOptionalText(line, "last_start", run, &CRunFigures::strStart);
            AddOptionalText(line, "last_end", run, &CRunFigures::strEnd);
            if (run)
                line.Add("duration_s", static_cast<double>(run->nDurationMs) / 1000.0);
            else
                line.AddNull("duration_s");
            AddOptionalNumber(line, "folders_listed", run, &CRunFigures::nFoldersListed);
            AddOptionalNumber(line, "commands", run, &CRunFigures::nCommands);
            AddOptionalNumber(line, "listing_bytes", run, &CRunFigures::nListingBytes);
            AddOptionalText(line, "last_error", run, &CRunFigures::strLastError);
            AddOptionalNumber(line, "refused", run, &CRunFigures::nRefused);
            if (run)
            {
                std::vector<std::string> paths;
                for (const std::string& strPath : run->refusedPaths)
                    paths.push_back(codec.Decode(strPath));
                line.Add("refused_paths", paths);
            }
            else
                line.AddNull("refused_paths");
            std::fputs(line.Finish().c_str(), stdout);
            continue;
        }
        CTextTable table;
        auto add = [&table](const char* pszName, const std::string& strValue) {
            table.AddRow({std::string("  ") + pszName, strValue});
        };
        add("folders", std::to_string(totals.nFolders));
        add("files", std::to_string(totals.nFiles));
        add("bytes", std::to_string(totals.nBytes));
        add("unread", std::to_string(totals.nUnread));
        if (run)
        {
            char szDuration[32];
            std::snprintf(szDuration, sizeof(szDuration), "%.3f s",
                          static_cast<double>(run->nDurationMs) / 1000.0);
            add("last start", run->strStart);
            add("last end", run->strEnd);
            add("duration", szDuration);
            add("folders listed", std::to_string(run->nFoldersListed));
            add("commands", std::to_string(run->nCommands));
            add("listing bytes", std::to_string(run->nListingBytes));
            add("last error", run->strLastError);
            add("refused", std::to_string(run->nRefused));
            for (const std::string& strPath : run->refusedPaths)
                add("refused path", PrintableText(codec.Decode(strPath)));
        }
        else
            add("last update", "none");
        std::printf("%s%s\n", bFirst ? "" : "\n", PrintableText(strKey).c_str());
        table.Print(stdout);
        bFirst = false;
    }
    return EXIT_OK;
}
