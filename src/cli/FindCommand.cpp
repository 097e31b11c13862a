// find: the query language over every cached tree (search keeps the literal
// keyword). The trees are loaded first, on two threads, and that time is
// reported apart from the search's own.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/CliSignals.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryPrinter.h"
#include "cli/JsonWriter.h"
#include "doc/Export.h"
#include "doc/TarnDoc.h"
#include "search/NameSearch.h"

namespace
{
using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void LoadAll(CTarnDoc& doc)
{
    std::atomic<size_t> nNext{0};
    auto load = [&]
    {
        for (size_t i = nNext++; i < doc.m_siteList.size(); i = nNext++)
            doc.m_siteList[i]->EnsureLoaded();
    };
    std::thread helper(load);
    load();
    helper.join();
}

// Prints (or collects) the matches as they come, in site order, up to the
// limit. No update runs in tarn-cli meanwhile, so rows may be read later.
class CFindSink : public ISearchSink
{
public:
    CFindSink(const CCommandLine& line) : m_line(line), m_printer(line.m_bJson) {}

    bool OnHits(std::span<const CSearchHit> hits) override
    {
        for (const CSearchHit& hit : hits)
        {
            if (m_line.m_nLimit && m_nFound >= *m_line.m_nLimit)
                return false;
            ++m_nFound;
            if (m_line.m_bCount)
                continue;
            const auto* pDir = hit.nType == 1 ? static_cast<const CFTPDir*>(hit.pEntry) : nullptr;
            const auto* pFile = hit.nType == 1 ? nullptr : static_cast<const CFTPFile*>(hit.pEntry);
            if (m_line.m_strFormat)
                m_rows.push_back({pDir, pFile});
            else if (pDir != nullptr)
                m_printer.Dir(*pDir);
            else
                m_printer.File(*pFile);
        }
        return !(m_line.m_nLimit && m_nFound >= *m_line.m_nLimit) && GetInterruptCount() == 0;
    }

    void Finish()
    {
        if (m_line.m_strFormat)
        {
            ExportFormat nFormat = ExportFormat::csv;
            (void)ParseExportFormat(*m_line.m_strFormat, &nFormat);
            WriteExport(m_rows, nFormat,
                        [](std::string_view piece)
                        { std::fwrite(piece.data(), 1, piece.size(), stdout); });
        }
        else if (!m_line.m_bCount)
            m_printer.Finish();
    }

    uint64_t m_nFound = 0;

private:
    const CCommandLine& m_line;
    CEntryPrinter m_printer;
    std::vector<CExportRow> m_rows;
};
} // namespace

int RunFind(CCliContext& ctx)
{
    const CCommandLine& line = ctx.line;
    CQueryError error;
    std::shared_ptr<const CQuery> pQuery = CQuery::Parse(line.m_args[0], &error);
    if (pQuery == nullptr)
    {
        ReportError("cannot read the query: " + FormatQueryError(error, false));
        return EXIT_USAGE;
    }
    Clock::time_point loadStart = Clock::now();
    LoadAll(ctx.doc);
    int64_t nLoadMs = MillisecondsSince(loadStart);

    Clock::time_point start = Clock::now();
    CSearchRequest request;
    request.pQuery = pQuery;
    for (const auto& pSite : ctx.doc.m_siteList)
        request.sites.push_back(MakeSearchSite(*pSite));
    request.bOrdered = true;
    CFindSink sink(line);
    std::atomic<bool> stop{false};
    (void)RunNameSearch(request, sink, stop);
    int64_t nMs = MillisecondsSince(start);
    sink.Finish();

    if (line.m_bJson && !line.m_strFormat)
    {
        CJsonLine done;
        done.Add("done", true)
            .Add("found", sink.m_nFound)
            .Add("ms", static_cast<uint64_t>(nMs))
            .Add("load_ms", static_cast<uint64_t>(nLoadMs));
        std::fputs(done.Finish().c_str(), stdout);
    }
    else if (line.m_bCount)
        std::printf("%llu\n", static_cast<unsigned long long>(sink.m_nFound));
    std::fflush(stdout);
    if (GetInterruptCount() != 0)
    {
        ReportError("interrupted");
        return EXIT_FAILED;
    }
    return sink.m_nFound > 0 ? EXIT_OK : EXIT_FAILED;
}
