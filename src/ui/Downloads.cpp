#include "ui/Downloads.h"

#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>

#include "doc/DesktopOpen.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "transfer/DownloadPlan.h"
#include "ui/DownloadListModel.h"
#include "ui/DownloadTexts.h"
#include "ui/MessageBox.h"
#include "ui/TarnSettings.h"

namespace
{
QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

QString Text(const std::string& str)
{
    return QString::fromUtf8(str.data(), qsizetype(str.size()));
}

const char* const SETTING_FOLDER = "Downloads/folder";
const char* const SETTING_PER_SITE = "Downloads/perSite";
const char* const SETTING_TOTAL = "Downloads/total";

// The desktop of the session Tarn runs in.
class CSessionDesktop : public IDesktop
{
public:
    explicit CSessionDesktop(QWidget* pParent) : m_pParent(pParent) {}

    std::string QueryDefaultHandler(const std::string& strMimeType) override
    {
        QProcess process;
        process.start("xdg-mime", {"query", "default", Text(strMimeType)});
        if (!process.waitForFinished(3000))
        {
            process.kill();
            process.waitForFinished(1000);
            return {};
        }
        return process.readAllStandardOutput().trimmed().toStdString();
    }
    void OpenUrl(const std::string& strUrl) override
    {
        QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(strUrl)));
    }
    void OpenLocalFile(const std::string& strPath) override
    {
        QDesktopServices::openUrl(QUrl::fromLocalFile(Text(strPath)));
    }
    bool Ask(const std::string& strQuestion) override
    {
        return TarnMessageBox(m_pParent, Text(strQuestion), QString(),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Question) == QMessageBox::Yes;
    }

private:
    QWidget* m_pParent;
};
} // namespace

CDownloads::CDownloads(QMainWindow* pFrame, CTarnDoc& doc)
    : m_pFrame(pFrame), m_doc(doc), m_pDesktop(std::make_unique<CSessionDesktop>(pFrame)),
      m_pDock(new QDockWidget(Text(download_text::DOCK_TITLE), pFrame)), m_pList(new QTableView),
      m_pNote(new QLabel), m_pModel(new CDownloadListModel(this))
{
    m_pOpener = std::make_unique<CDesktopOpener>(*m_pDesktop, m_queue, GetOpenCacheFolder());

    m_pDock->setObjectName("downloadDock");
    m_pDock->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    auto* pPanel = new QWidget;
    auto* pLayout = new QVBoxLayout(pPanel);
    pLayout->setContentsMargins(2, 2, 2, 2);
    auto* pBar = new QToolBar;
    pBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const char* const LABELS[BUTTON_COUNT] = {download_text::STOP,        download_text::RESUME,
                                              download_text::RETRY,       download_text::REMOVE,
                                              download_text::SHOW_FOLDER, download_text::OPEN};
    for (int i = 0; i < BUTTON_COUNT; ++i)
    {
        m_buttons[i] = pBar->addAction(Text(LABELS[i]));
        connect(m_buttons[i], &QAction::triggered, this, [this, i] { OnButton(i); });
    }
    pBar->addSeparator();
    pBar->addWidget(m_pNote);
    pLayout->addWidget(pBar);
    m_pList->setModel(m_pModel);
    m_pList->setItemDelegateForColumn(CDownloadListModel::COL_PROGRESS,
                                      new CProgressDelegate(m_pList));
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->verticalHeader()->hide();
    m_pList->verticalHeader()->setDefaultSectionSize(m_pList->fontMetrics().height() + 8);
    m_pList->horizontalHeader()->setStretchLastSection(true);
    m_pList->setColumnWidth(CDownloadListModel::COL_NAME, 260);
    m_pList->setColumnWidth(CDownloadListModel::COL_PROGRESS, 140);
    m_pList->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (QAction* pAction : m_buttons)
        m_pList->addAction(pAction);
    pLayout->addWidget(m_pList);
    m_pDock->setWidget(pPanel);
    pFrame->addDockWidget(Qt::BottomDockWidgetArea, m_pDock);
    m_pDock->hide();
    connect(m_pList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CDownloads::UpdateButtons);
    connect(m_pModel, &QAbstractItemModel::modelReset, this, &CDownloads::UpdateButtons);
    connect(m_pList, &QTableView::doubleClicked, this, [this] { OnButton(BUTTON_OPEN); });

    m_queue.SetLimits(GetLimits());
    m_queue.SetQueueFile(GetProgramFolder() + "/" + DOWNLOAD_QUEUE_FILE);
    // Many notices from the workers make one refresh a turn of the event loop.
    m_queue.SetListener(
        [this]
        {
            if (!m_bRefreshPosted.exchange(true))
                QMetaObject::invokeMethod(
                    this, [this] { Refresh(); }, Qt::QueuedConnection);
        });
    UpdateButtons();
}

CDownloads::~CDownloads()
{
    Shutdown();
}

void CDownloads::Shutdown()
{
    if (m_bShutdown)
        return;
    m_bShutdown = true;
    m_queue.Shutdown();
}

void CDownloads::SetDesktop(std::unique_ptr<IDesktop> pDesktop)
{
    m_pDesktop = std::move(pDesktop);
    m_pOpener = std::make_unique<CDesktopOpener>(*m_pDesktop, m_queue, GetOpenCacheFolder());
}

QString CDownloads::GetFolder() const
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    QString strDefault = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return settings.value(SETTING_FOLDER, strDefault).toString();
}

CDownloadLimits CDownloads::GetLimits() const
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    CDownloadLimits limits;
    limits.nPerSite =
        std::clamp(settings.value(SETTING_PER_SITE, limits.nPerSite).toUInt(), 1u, 10u);
    limits.nTotal = std::clamp(settings.value(SETTING_TOTAL, limits.nTotal).toUInt(), 1u, 20u);
    return limits;
}

void CDownloads::ApplySettings(const QString& strFolder, const CDownloadLimits& limits)
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    settings.setValue(SETTING_FOLDER, strFolder);
    settings.setValue(SETTING_PER_SITE, limits.nPerSite);
    settings.setValue(SETTING_TOTAL, limits.nTotal);
    m_queue.SetLimits(limits);
}

void CDownloads::RestoreQueue()
{
    std::vector<CDownloadJob> jobs =
        CDownloadQueue::LoadQueueFile(GetProgramFolder() + "/" + DOWNLOAD_QUEUE_FILE);
    std::vector<std::pair<CDownloadJob, CFTPSite*>> restored;
    for (CDownloadJob& job : jobs)
    {
        CFTPSite* pSite = m_doc.FindSite(job.strSiteKey);
        if (pSite == nullptr)
            continue; // the site was deleted since
        std::error_code error;
        job.nDone = std::filesystem::file_size(job.GetPartPath(), error);
        if (error)
            job.nDone = 0;
        restored.emplace_back(std::move(job), pSite);
    }
    if (restored.empty())
        return;
    size_t nRestored = restored.size();
    m_queue.AddAll(std::move(restored));
    m_pNote->setText(Text(download_text::RESTORED).arg(nRestored));
    ShowDock();
    Refresh();
}

bool CDownloads::Download(CFTPSite& site, const CFTPDir* pDir, const CFTPFile* pFile)
{
    QString strFolder = GetFolder();
    if (!QDir(strFolder).exists())
    {
        TarnMessageBox(m_pFrame, Text(download_text::NO_FOLDER).arg(strFolder));
        return false;
    }
    std::vector<CDownloadJob> jobs = PlanDownload(site, pDir, pFile, strFolder.toStdString());
    if (jobs.empty())
    {
        TarnMessageBox(m_pFrame, Text(download_text::NOTHING_CACHED));
        return false;
    }
    m_pNote->setText(Text(download_text::QUEUED).arg(jobs.size()));
    std::vector<std::pair<CDownloadJob, CFTPSite*>> queued;
    queued.reserve(jobs.size());
    for (CDownloadJob& job : jobs)
        queued.emplace_back(std::move(job), &site);
    m_queue.AddAll(std::move(queued));
    ShowDock();
    Refresh();
    return true;
}

void CDownloads::Open(CFTPSite& site, const CFTPFile& file, const std::string& strUrl)
{
    m_pOpener->Open(site, file, strUrl);
    if (m_pOpener->HasPending())
        ShowDock();
    Refresh();
}

void CDownloads::ForgetSite(CFTPSite* pSite)
{
    m_queue.RemoveSite(pSite);
    Refresh();
}

void CDownloads::ShowDock()
{
    if (!m_pDock->isVisible())
        m_pDock->show();
}

void CDownloads::Refresh()
{
    m_bRefreshPosted = false;
    m_pModel->SetJobs(m_queue.GetJobs());
    m_pOpener->Poll();
    UpdateButtons();
}

std::vector<uint64_t> CDownloads::SelectedIds() const
{
    std::vector<uint64_t> ids;
    for (const QModelIndex& index : m_pList->selectionModel()->selectedRows())
        if (const CDownloadJob* pJob = m_pModel->JobAt(index.row()))
            ids.push_back(pJob->nId);
    return ids;
}

void CDownloads::UpdateButtons()
{
    bool bCan[BUTTON_COUNT] = {};
    for (const QModelIndex& index : m_pList->selectionModel()->selectedRows())
    {
        const CDownloadJob* pJob = m_pModel->JobAt(index.row());
        if (pJob == nullptr)
            continue;
        DownloadState nState = pJob->nState;
        bCan[BUTTON_STOP] |= nState == DownloadState::running || nState == DownloadState::waiting;
        bCan[BUTTON_RESUME] |= nState == DownloadState::stopped;
        bCan[BUTTON_RETRY] |= nState == DownloadState::failed;
        bCan[BUTTON_REMOVE] = true;
        bCan[BUTTON_SHOW_FOLDER] = true;
        bCan[BUTTON_OPEN] |= nState == DownloadState::done;
    }
    for (int i = 0; i < BUTTON_COUNT; ++i)
        m_buttons[i]->setEnabled(bCan[i]);
}

void CDownloads::OnButton(int nButton)
{
    std::vector<uint64_t> ids = SelectedIds();
    for (uint64_t nId : ids)
    {
        std::optional<CDownloadJob> job = m_queue.GetJob(nId);
        if (!job)
            continue;
        switch (nButton)
        {
        case BUTTON_STOP:
            m_queue.Stop(nId);
            break;
        case BUTTON_RESUME:
        case BUTTON_RETRY:
            m_queue.Resume(nId);
            break;
        case BUTTON_REMOVE:
            m_queue.Remove(nId);
            break;
        case BUTTON_SHOW_FOLDER:
        {
            std::string strPath = job->strSaved.empty() ? job->GetTarget() : job->strSaved;
            std::string strFolder = std::filesystem::path(strPath).parent_path().string();
            m_pDesktop->OpenLocalFile(std::filesystem::is_directory(strFolder) ? strFolder
                                                                               : job->strFolder);
            return; // one folder is enough
        }
        case BUTTON_OPEN:
            if (job->nState == DownloadState::done)
                m_pDesktop->OpenLocalFile(job->strSaved);
            break;
        default:
            break;
        }
    }
    Refresh();
}
