// The main window's commands over what updates leave behind: the change
// listing, the site's figures and the export of the file list.

#include <QFile>
#include <QLabel>
#include <algorithm>

#include "doc/Export.h"
#include "doc/SiteInfo.h"
#include "doc/TarnDoc.h"
#include "ui/DirView.h"
#include "ui/DisplayText.h"
#include "ui/FileListModel.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameTexts.h"
#include "ui/MessageBox.h"
#include "ui/SiteInfoDlg.h"
#include "ui/StatsText.h"
#include "ui/TarnView.h"

namespace
{
QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

// The shape a name asks for by its extension, else the filter chosen: a
// name typed as "list.csv" under another filter still gets CSV.
ExportFormat ChooseFormat(const QString& strPath, int nFilter)
{
    static const std::pair<const char*, ExportFormat> extensions[] = {
        {".csv", ExportFormat::csv},
        {".jsonl", ExportFormat::json},
        {".json", ExportFormat::json},
    };
    for (const auto& [pszExtension, nFormat] : extensions)
        if (strPath.endsWith(QLatin1String(pszExtension), Qt::CaseInsensitive))
            return nFormat;
    static const ExportFormat filterFormats[] = {ExportFormat::csv, ExportFormat::json,
                                                 ExportFormat::urls};
    return filterFormats[std::clamp(nFilter, 0, 2)];
}
} // namespace

void CMainFrame::OnShowChanges()
{
    if (IsWalking())
        return;
    // Nothing selected (the 操作 menu): every site.
    CFTPDir* pDir = m_pDirView->SelectedFolder();
    // It pumps on large logs: the commands that would disturb it wait.
    RunWalk([&] { m_pDoc->ListChanges(pDir); });
    if (m_bCloseAfterWalk)
        return;

    size_t nChanges = 0;
    std::vector<const CChangeRecord*> firsts;
    for (const CChangeRow& row : m_pDoc->m_foundChanges)
    {
        if (row.record.nKind == ChangeKind::first)
            firsts.push_back(&row.record);
        else
            ++nChanges;
    }
    if (nChanges == 0 && firsts.empty())
    {
        // A site never updated has no log: "no changes" would mislead.
        std::vector<CFTPSite*> scope;
        if (pDir != nullptr)
            scope.push_back(pDir->GetSite());
        else
            for (const auto& pSite : m_pDoc->m_siteList)
                scope.push_back(pSite.get());
        bool bUpdated = std::any_of(scope.begin(), scope.end(),
                                    [](CFTPSite* pSite)
                                    { return pSite != nullptr && !GetLastRun(*pSite).empty(); });
        TarnMessageBox(this, Text(bUpdated ? frame_text::NO_CHANGES : frame_text::NEVER_UPDATED));
        return;
    }
    if (nChanges == 0)
    {
        // A first crawl found everything: a list of it all says nothing new.
        uint64_t nFolders = 0;
        uint64_t nFiles = 0;
        uint64_t nBytes = 0;
        for (const CChangeRecord* pFirst : firsts)
        {
            nFolders += pFirst->nFolders;
            nFiles += pFirst->nFiles;
            nBytes += pFirst->nBytes;
        }
        m_pStatusPane->setText(
            Text(frame_text::FIRST_UPDATE).arg(nFolders).arg(nFiles).arg(BytesText(nBytes)));
        return;
    }
    m_pFileView->ShowChangeListing();
    QString strNote = Text(frame_text::CHANGES_SHOWN).arg(nChanges);
    if (!firsts.empty())
        strNote += Text(frame_text::FIRST_UPDATES_TOO).arg(firsts.size());
    m_pStatusPane->setText(strNote);
    UpdateCommandUI();
}

void CMainFrame::OnSiteStats()
{
    if (IsWalking())
        return;
    CFTPSite* pSite = SelectedSite();
    if (pSite == nullptr)
        return;
    CSiteInfoDlg dlg(SiteLabel(*pSite), GetSiteStats(*m_pDoc, *pSite), this);
    dlg.exec();
}

void CMainFrame::OnExport()
{
    if (IsWalking() || !m_pFileView->Model().HasEntries())
        return;
    QStringList filters;
    for (const char* pszFilter : frame_text::EXPORT_FILTERS)
        filters << Text(pszFilter);
    int nFilter = 0;
    QString strPath =
        TarnGetSaveFileName(this, filters, &nFilter, Text(frame_text::EXPORT_CAPTION));
    if (strPath.isEmpty())
        return;
    // Taken only now: the dialog's own loop let the engine remove entries.
    std::vector<CExportRow> rows = m_pFileView->ExportRows();
    std::string strError;
    if (!ExportToFile(QFile::encodeName(strPath).toStdString(), rows,
                      ChooseFormat(strPath, nFilter), &strError))
    {
        TarnMessageBox(
            this, Text(frame_text::EXPORT_FAILED).arg(strPath, QString::fromStdString(strError)),
            TarnCaption(), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    m_pStatusPane->setText(Text(frame_text::EXPORT_DONE).arg(rows.size()).arg(strPath));
}
