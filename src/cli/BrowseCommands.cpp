// ls, new, search, read, url: the cached trees through the document.

#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "cli/CliDocHost.h"
#include "cli/CliSignals.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryPrinter.h"
#include "cli/JsonWriter.h"
#include "cli/WindowHandoff.h"
#include "doc/Export.h"
#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"

namespace
{
bool Resolve(CTarnDoc& doc, const std::string& strAddress, CEntryRef* pRef)
{
    switch (ResolveAddress(doc, strAddress, pRef))
    {
    case ResolveResult::found:
        return true;
    case ResolveResult::noSite:
        ReportError("no site has the key of '" + strAddress + "'");
        return false;
    case ResolveResult::noEntry:
        ReportError("nothing is cached at '" + strAddress + "'");
        return false;
    }
    return false;
}

bool ResolveFolder(CTarnDoc& doc, const std::string& strAddress, CEntryRef* pRef)
{
    if (!Resolve(doc, strAddress, pRef))
        return false;
    if (pRef->pDir == nullptr)
    {
        ReportError("'" + strAddress + "' is a file, not a folder");
        return false;
    }
    return true;
}

// Pre-order, like content.ct: a folder, then what lies below it, then the
// files. Iterative, so a deep tree cannot exhaust the stack.
template <class Printer> void PrintTree(Printer& printer, const CFTPDir& top)
{
    struct Frame
    {
        const CFTPDir* pDir;
        size_t nNext;
    };
    std::vector<Frame> stack{{&top, 0}};
    while (!stack.empty())
    {
        Frame& frame = stack.back();
        if (frame.nNext < frame.pDir->m_dirList.size())
        {
            const CFTPDir* pSub = frame.pDir->m_dirList[frame.nNext++].get();
            printer.Dir(*pSub);
            stack.push_back({pSub, 0});
            continue;
        }
        for (const auto& pFile : frame.pDir->m_fileList)
            printer.File(*pFile);
        stack.pop_back();
    }
}

// Collects rows for --format, in the order they would be printed.
class CRowCollector
{
public:
    void Dir(const CFTPDir& dir) { m_rows.push_back({&dir, nullptr}); }
    void File(const CFTPFile& file) { m_rows.push_back({nullptr, &file}); }
    const std::vector<CExportRow>& GetRows() const { return m_rows; }

private:
    std::vector<CExportRow> m_rows;
};

void PrintExport(const std::vector<CExportRow>& rows, const std::string& strFormat)
{
    ExportFormat nFormat = ExportFormat::csv;
    (void)ParseExportFormat(strFormat, &nFormat); // checked by the parser
    WriteExport(rows, nFormat,
                [](std::string_view piece) { std::fwrite(piece.data(), 1, piece.size(), stdout); });
}

// The result lists of the last search or unread listing: folders, then files.
void PrintFound(CCliContext& ctx)
{
    if (ctx.line.m_strFormat)
    {
        PrintExport(GetListingRows(ctx.doc, true), *ctx.line.m_strFormat);
        return;
    }
    CEntryPrinter printer(ctx.line.m_bJson);
    for (const CFTPDir* pDir : ctx.doc.m_foundDirs)
        printer.Dir(*pDir);
    for (const CFTPFile* pFile : ctx.doc.m_foundFiles)
        printer.File(*pFile);
    printer.Finish();
}

int InterruptedOr(int nStatus)
{
    if (GetInterruptCount() == 0)
        return nStatus;
    ReportError("interrupted");
    return EXIT_FAILED;
}
} // namespace

int RunLs(CCliContext& ctx)
{
    CEntryRef ref;
    if (!ResolveFolder(ctx.doc, ctx.line.m_args[0], &ref))
        return EXIT_FAILED;
    if (ctx.line.m_strFormat)
    {
        CRowCollector collector;
        {
            std::shared_lock lock(ref.pSite->m_treeLock);
            if (ctx.line.m_bRecursive)
                PrintTree(collector, *ref.pDir);
            else
            {
                for (const auto& pSub : ref.pDir->m_dirList)
                    collector.Dir(*pSub);
                for (const auto& pFile : ref.pDir->m_fileList)
                    collector.File(*pFile);
            }
        }
        PrintExport(collector.GetRows(), *ctx.line.m_strFormat);
        return EXIT_OK;
    }
    CEntryPrinter printer(ctx.line.m_bJson, true);
    {
        std::shared_lock lock(ref.pSite->m_treeLock);
        if (ctx.line.m_bRecursive)
            PrintTree(printer, *ref.pDir);
        else
        {
            for (const auto& pSub : ref.pDir->m_dirList)
                printer.Dir(*pSub);
            for (const auto& pFile : ref.pDir->m_fileList)
                printer.File(*pFile);
        }
    }
    printer.Finish();
    return EXIT_OK;
}

int RunNew(CCliContext& ctx)
{
    if (ctx.line.m_args.empty())
        ctx.doc.ShowUnread(UNREAD_ALL);
    else
    {
        CEntryRef ref;
        if (!ResolveFolder(ctx.doc, ctx.line.m_args[0], &ref))
            return EXIT_FAILED;
        ctx.doc.ShowFolderUnread(ref.pDir);
    }
    PrintFound(ctx);
    return InterruptedOr(EXIT_OK);
}

int RunSearch(CCliContext& ctx)
{
    ctx.doc.Search(ctx.line.m_args[0]);
    PrintFound(ctx);
    return InterruptedOr(EXIT_OK);
}

int RunRead(CCliContext& ctx)
{
    if (ctx.pWindow != nullptr)
    {
        // The addresses are checked here, with the messages of a direct run.
        CEntryRef ref;
        for (const std::string& strAddress : ctx.line.m_args)
        {
            if (!Resolve(ctx.doc, strAddress, &ref))
                return EXIT_FAILED;
        }
        CJsonLine request = MakeWindowRequest("read", ctx.line.m_args);
        request.Add("all", ctx.line.m_bAll);
        return ctx.pWindow->Run(request, [](const CJsonFields&) {});
    }
    if (ctx.line.m_bAll)
    {
        ctx.doc.MarkSitesRead(UNREAD_ALL);
        return InterruptedOr(EXIT_OK);
    }
    // Every address must name an entry before anything is marked.
    std::vector<CEntryRef> refs;
    for (const std::string& strAddress : ctx.line.m_args)
    {
        CEntryRef ref;
        if (!Resolve(ctx.doc, strAddress, &ref))
            return EXIT_FAILED;
        refs.push_back(ref);
    }
    for (const CEntryRef& ref : refs)
    {
        if (ref.pDir != nullptr)
        {
            // As opening the folder does, then everything below it.
            ctx.doc.OpenFolder(ref.pDir);
            ctx.doc.MarkFolderRead(ref.pDir);
            continue;
        }
        std::unique_lock lock(ref.pSite->m_treeLock);
        if (ref.pFile->m_nState != 0)
        {
            ref.pFile->m_nState = 0;
            ref.pSite->m_bStateDirty = true;
        }
    }
    return InterruptedOr(EXIT_OK);
}

int RunUrl(CCliContext& ctx)
{
    // Loads the site's tree, so that a cached entry's URL carries the
    // server's own bytes (any other path is encoded from its text).
    CEntryRef ref;
    (void)ResolveAddress(ctx.doc, ctx.line.m_args[0], &ref);
    std::string strUrl = ctx.doc.GetUrl(ctx.line.m_args[0]);
    if (strUrl.empty())
    {
        ReportError("no site has the key of '" + ctx.line.m_args[0] + "'");
        return EXIT_FAILED;
    }
    if (ctx.line.m_bJson)
        std::fputs(CJsonLine().Add("url", strUrl).Finish().c_str(), stdout);
    else
        std::printf("%s\n", strUrl.c_str());
    return EXIT_OK;
}
