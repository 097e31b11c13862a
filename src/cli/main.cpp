// tarn-cli: Tarn without a window, over the same core and data folder.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "cli/CliDocHost.h"
#include "cli/CliSignals.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/WindowHandoff.h"
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
// Takes the folder's lock for a writing command, or, while the window holds
// it, hands the command to the window (*ppWindow) or refuses it. EXIT_OK
// when the command may run.
int TakeDataFolder(CDataFolderLock& lock, const std::string& strFolder,
                   const std::string& strCommand, std::unique_ptr<CWindowLink>* ppWindow)
{
    lock.SetHolderName(CDataFolderLock::HOLDER_CLI);
    std::string strError;
    auto result = lock.Acquire(strFolder, std::chrono::milliseconds(0), &strError);
    if (result == CDataFolderLock::Result::busy &&
        CDataFolderLock::ReadHolderName(strFolder) == CDataFolderLock::HOLDER_WINDOW)
    {
        if (!IsHandedToWindow(strCommand))
        {
            ReportError("the data folder " + strFolder +
                        " is open in the Tarn window; make this change there or close the "
                        "window first (update and read are handed to the window; ls, search, "
                        "new and url work meanwhile)");
            return EXIT_FAILED;
        }
        *ppWindow = CWindowLink::Connect(strFolder, &strError);
        if (*ppWindow != nullptr)
            return EXIT_OK;
        // The window may have closed meanwhile.
        result = lock.Acquire(strFolder, std::chrono::milliseconds(0), &strError);
        if (result == CDataFolderLock::Result::busy)
        {
            ReportError("the data folder " + strFolder +
                        " is open in the Tarn window, which does not answer on " +
                        GetControlSocketPath(strFolder) + ": " + strError);
            return EXIT_FAILED;
        }
    }
    if (result == CDataFolderLock::Result::busy)
        result = lock.Acquire(strFolder, CDataFolderLock::DEFAULT_WAIT, &strError);
    switch (result)
    {
    case CDataFolderLock::Result::taken:
        // No window holds the folder: a socket left there is a killed one's.
        RemoveStaleControlSocket(strFolder);
        return EXIT_OK;
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
        break;
    }
    ReportError("cannot lock the data folder (" + CDataFolderLock::GetLockPath(strFolder) +
                "): " + strError);
    return EXIT_FAILED;
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
    std::unique_ptr<CWindowLink> pWindow;
    if (IsWritingCommand(line.m_strCommand))
    {
        if (int nStatus = TakeDataFolder(lock, strFolder, line.m_strCommand, &pWindow);
            nStatus != EXIT_OK)
            return nStatus;
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
    ctx.pWindow = pWindow.get();
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
