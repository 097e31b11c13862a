// tarn-cli: Tarn without a window, over the same core and data folder.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/CliDocHost.h"
#include "cli/CliSignals.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "doc/TarnDoc.h"
#include "model/DataFolderLock.h"
#include "model/ProgramFolder.h"

namespace
{
void WarnDamagedFiles(CTarnDoc& doc)
{
    for (const auto& pSite : doc.m_siteList)
    {
        std::string strFolder = GetSiteFolderPath(doc.GetProgramFolder(), pSite->GetKey());
        if (pSite->m_bContentDamaged.load())
            ReportError("warning: " + strFolder +
                        "/content.ct is damaged; what could be read was used");
        if (pSite->m_bStateDamaged.load())
            ReportError("warning: " + strFolder +
                        "/state.st is damaged; what could be read was used");
        // Once per run: the lines are kept in the file and skipped.
        std::string strOptions = strFolder + "/" + SITE_OPTIONS_FILE;
        for (size_t nLine : pSite->TakeDamagedOptionLines())
            ReportError("warning: " + strOptions + ": line " + std::to_string(nLine) +
                        " is not key=value: kept as it is");
        if (std::string strError = pSite->CheckOptions(); !strError.empty())
            ReportError("warning: cannot read " + strError +
                        "; the site is not updated until it can be read");
    }
}
} // namespace

int main(int argc, char** argv)
{
    // Display widths of Chinese names.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        std::setlocale(LC_CTYPE, "");

    CCommandLine line;
    std::string strError;
    switch (ParseCommandLine(argc, argv, &line, &strError))
    {
    case ParseResult::help:
        std::fputs(GetHelpText(line.m_strCommand).c_str(), stdout);
        return EXIT_OK;
    case ParseResult::usage:
        std::fprintf(stderr, "%s\n", strError.c_str());
        return EXIT_USAGE;
    case ParseResult::run:
        break;
    }
    InstallInterruptHandlers();

    std::string strFolder;
    const std::string* pstrNamed = line.m_strDataDir ? &*line.m_strDataDir : nullptr;
    if (!ChooseDataFolder(pstrNamed, &strFolder, &strError))
    {
        ReportError(strError);
        return EXIT_FAILED;
    }
    SetProgramFolder(strFolder);
    CDataFolderLock lock;
    lock.SetHolderName(CDataFolderLock::HOLDER_CLI);
    if (IsWritingCommand(line.m_strCommand))
    {
        switch (lock.Acquire(strFolder, CDataFolderLock::DEFAULT_WAIT, &strError))
        {
        case CDataFolderLock::Result::taken:
            break;
        case CDataFolderLock::Result::busy:
            if (CDataFolderLock::ReadHolderName(strFolder) == CDataFolderLock::HOLDER_WINDOW)
                ReportError("the data folder " + strFolder +
                            " is open in the Tarn window; close the window first (ls, search, "
                            "new and url work meanwhile); gave up after waiting 10 s");
            else
                ReportError("the data folder " + strFolder +
                            " is in use by another Tarn program; gave up after waiting 10 s");
            return EXIT_FAILED;
        case CDataFolderLock::Result::failed:
            ReportError("cannot lock the data folder (" + CDataFolderLock::GetLockPath(strFolder) +
                        "): " + strError);
            return EXIT_FAILED;
        }
    }

    CCliDocHost host;
    CTarnDoc doc(host);
    (void)doc.OnNewDocument();
    if (doc.IsSiteListUnreadable())
    {
        // Listing or changing sites from what could not be read would mislead.
        ReportError("cannot read " + doc.GetSiteListPath() + ": " + doc.GetSiteListError() +
                    "; it was left as it is");
        return EXIT_FAILED;
    }
    if (!host.GetMessages().empty())
    {
        ReportError("warning: " + doc.GetSiteListPath() +
                    " could not be read to its end; using the " +
                    std::to_string(doc.m_siteList.size()) + " sites read before the damage");
        host.ForgetMessages();
    }

    CCliContext ctx{doc, host, line};
    int nStatus = RunCommand(ctx);
    // No engine ran (or it was closed already): the unread marks that
    // changed go to state.st.
    nStatus = FinishRun(ctx, nStatus,
                        [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); });
    WarnDamagedFiles(doc);

    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return nStatus == EXIT_OK ? EXIT_FAILED : nStatus;
    return nStatus;
}
