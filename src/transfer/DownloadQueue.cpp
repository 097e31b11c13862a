#include "transfer/DownloadQueue.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "model/FTPSite.h"
#include "model/File.h"
#include "model/Json.h"
#include "model/PercentCode.h"
#include "model/ThreadPriority.h"
#include "net/FtpConnection.h"
#include "net/InternetSession.h"
#include "transfer/LocalName.h"
#include "update/SiteConnection.h"

namespace
{
using Clock = std::chrono::steady_clock;

// An idle connection is kept this long for the next file of its site.
constexpr auto IDLE_CONNECTION_TIME = std::chrono::seconds(10);

// Downloads wait longer for a slow server than a crawl does: a stalled file
// costs more to start again than a stalled listing.
CSessionTimeouts DownloadTimeouts()
{
    CSessionTimeouts timeouts;
    timeouts.nConnectTimeout = 15000;
    timeouts.nControlSendTimeout = 15000;
    timeouts.nControlReceiveTimeout = 30000;
    timeouts.nDataSendTimeout = 15000;
    timeouts.nDataReceiveTimeout = 30000;
    return timeouts;
}

// Paths and keys are bytes; the queue file is UTF-8 JSON, so every byte that
// is not printable ASCII (and "%") is kept as "%XX".
std::string EscapeBytes(const std::string& str)
{
    return PercentEncodeBytes(str, [](unsigned char c) { return c >= 0x20 && c < 0x7f && c != '%'; });
}

// A relative path from the file must stay below its folder.
bool IsSafeRelative(const std::string& strRelative)
{
    if (strRelative.empty() || strRelative[0] == '/' || strRelative.find('\0') != std::string::npos)
        return false;
    size_t nStart = 0;
    for (;;)
    {
        size_t nSlash = strRelative.find('/', nStart);
        std::string strPart = strRelative.substr(nStart, nSlash - nStart);
        if (strPart.empty() || strPart == "." || strPart == "..")
            return false;
        if (nSlash == std::string::npos)
            return true;
        nStart = nSlash + 1;
    }
}

std::string TargetKey(const std::string& strFolder, const std::string& strRelative)
{
    std::string strKey = strFolder;
    strKey += '\0';
    strKey += strRelative;
    return strKey;
}

const char* StateKey(DownloadState nState)
{
    return nState == DownloadState::failed ? "failed" : "stopped";
}
} // namespace

const char* DescribeState(DownloadState nState)
{
    switch (nState)
    {
    case DownloadState::waiting:
        return "等待";
    case DownloadState::running:
        return "下载中";
    case DownloadState::stopped:
        return "已停止";
    case DownloadState::failed:
        return "失败";
    case DownloadState::done:
        return "完成";
    }
    return "";
}

CDownloadQueue::CDownloadQueue() = default;

CDownloadQueue::~CDownloadQueue()
{
    Shutdown();
}

void CDownloadQueue::SetLimits(const CDownloadLimits& limits)
{
    {
        std::lock_guard lock(m_lock);
        m_limits.nPerSite = std::max<uint32_t>(1, limits.nPerSite);
        m_limits.nTotal = std::max<uint32_t>(1, limits.nTotal);
    }
    m_cv.notify_all();
    StartWorkers();
}

CDownloadLimits CDownloadQueue::GetLimits() const
{
    std::lock_guard lock(m_lock);
    return m_limits;
}

void CDownloadQueue::SetQueueFile(const std::string& strPath)
{
    std::lock_guard saveLock(m_saveLock);
    m_savedText.reset();
    std::lock_guard lock(m_lock);
    m_strQueueFile = strPath;
}

void CDownloadQueue::SetListener(std::function<void()> onChange)
{
    std::lock_guard lock(m_lock);
    m_onChange = std::move(onChange);
}

CDownloadQueue::CEntry* CDownloadQueue::Find(uint64_t nId) const
{
    for (const auto& pEntry : m_entries)
        if (pEntry->job.nId == nId && !pEntry->bRemoved)
            return pEntry.get();
    return nullptr;
}

std::unordered_set<std::string> CDownloadQueue::TakenTargets() const
{
    std::unordered_set<std::string> taken;
    taken.reserve(m_entries.size());
    for (const auto& pEntry : m_entries)
        if (!pEntry->bRemoved && pEntry->job.nState != DownloadState::done)
            taken.insert(TargetKey(pEntry->job.strFolder, pEntry->job.strRelative));
    return taken;
}

std::string CDownloadQueue::MakeUniqueTarget(const CDownloadJob& job,
                                             const std::unordered_set<std::string>& taken)
{
    // Two jobs with one target would share one .part file.
    size_t nSlash = job.strRelative.rfind('/');
    std::string strDir = job.strRelative.substr(0, nSlash == std::string::npos ? 0 : nSlash + 1);
    std::string strName = job.strRelative.substr(strDir.size());
    std::string strFree = NextFreeName(strName, [&](const std::string& strCandidate)
                                       { return taken.contains(TargetKey(job.strFolder, strDir + strCandidate)); });
    return strDir + strFree;
}

uint64_t CDownloadQueue::Add(CDownloadJob job, CFTPSite* pSite)
{
    std::vector<std::pair<CDownloadJob, CFTPSite*>> jobs;
    jobs.emplace_back(std::move(job), pSite);
    return AddAll(std::move(jobs)).front();
}

std::vector<uint64_t> CDownloadQueue::AddAll(std::vector<std::pair<CDownloadJob, CFTPSite*>> jobs)
{
    std::vector<uint64_t> ids;
    ids.reserve(jobs.size());
    {
        std::lock_guard lock(m_lock);
        std::unordered_set<std::string> taken = TakenTargets();
        for (auto& [job, pSite] : jobs)
        {
            auto pEntry = std::make_unique<CEntry>();
            job.nId = m_nNextId++;
            ids.push_back(job.nId);
            if (job.nState != DownloadState::stopped && job.nState != DownloadState::failed)
                job.nState = DownloadState::waiting;
            job.strRelative = MakeUniqueTarget(job, taken);
            taken.insert(TargetKey(job.strFolder, job.strRelative));
            pEntry->job = std::move(job);
            pEntry->pSite = pSite;
            m_entries.push_back(std::move(pEntry));
        }
    }
    m_cv.notify_all();
    StartWorkers();
    Changed();
    RequestSave();
    return ids;
}

void CDownloadQueue::Stop(uint64_t nId)
{
    {
        std::lock_guard lock(m_lock);
        CEntry* pEntry = Find(nId);
        if (pEntry == nullptr)
            return;
        if (pEntry->job.nState == DownloadState::running)
            pEntry->nStop.store(1);
        else if (pEntry->job.nState == DownloadState::waiting)
            pEntry->job.nState = DownloadState::stopped;
        else
            return;
    }
    Changed();
    RequestSave();
}

void CDownloadQueue::Resume(uint64_t nId)
{
    {
        std::lock_guard lock(m_lock);
        CEntry* pEntry = Find(nId);
        if (pEntry == nullptr || (pEntry->job.nState != DownloadState::stopped &&
                                  pEntry->job.nState != DownloadState::failed))
            return;
        pEntry->job.nState = DownloadState::waiting;
        pEntry->job.strError.clear();
    }
    m_cv.notify_all();
    StartWorkers();
    Changed();
    RequestSave();
}

void CDownloadQueue::Remove(uint64_t nId)
{
    std::string strPart;
    {
        std::lock_guard lock(m_lock);
        auto it = std::find_if(m_entries.begin(), m_entries.end(),
                               [nId](const auto& p) { return p->job.nId == nId && !p->bRemoved; });
        if (it == m_entries.end())
            return;
        CEntry& entry = **it;
        if (entry.job.nState == DownloadState::running)
        {
            // Its worker lets go of it.
            entry.bRemoved = true;
            entry.nStop.store(1);
        }
        else
        {
            if (entry.job.nState != DownloadState::done)
                strPart = entry.job.GetPartPath();
            m_entries.erase(it);
        }
    }
    if (!strPart.empty())
        ::unlink(strPart.c_str());
    Changed();
    RequestSave();
}

void CDownloadQueue::RemoveSite(const CFTPSite* pSite)
{
    std::vector<uint64_t> ids;
    {
        std::lock_guard lock(m_lock);
        for (const auto& pEntry : m_entries)
            if (pEntry->pSite == pSite && !pEntry->bRemoved)
                ids.push_back(pEntry->job.nId);
    }
    for (uint64_t nId : ids)
        Remove(nId);
    // A worker still busy with one of them must be done before the site goes.
    std::unique_lock lock(m_lock);
    m_cv.wait(lock,
              [&]
              {
                  return std::none_of(m_entries.begin(), m_entries.end(),
                                      [pSite](const auto& p) { return p->pSite == pSite; });
              });
}

std::vector<CDownloadJob> CDownloadQueue::GetJobs() const
{
    std::lock_guard lock(m_lock);
    std::vector<CDownloadJob> jobs;
    for (const auto& pEntry : m_entries)
        if (!pEntry->bRemoved)
            jobs.push_back(pEntry->job);
    return jobs;
}

std::optional<CDownloadJob> CDownloadQueue::GetJob(uint64_t nId) const
{
    std::lock_guard lock(m_lock);
    if (CEntry* pEntry = Find(nId))
        return pEntry->job;
    return std::nullopt;
}

bool CDownloadQueue::IsIdle() const
{
    std::lock_guard lock(m_lock);
    return m_nRunning == 0 &&
           std::none_of(m_entries.begin(), m_entries.end(),
                        [](const auto& p)
                        { return !p->bRemoved && p->job.nState == DownloadState::waiting; });
}

bool CDownloadQueue::WaitIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_lock);
    return m_cv.wait_for(lock, timeout,
                         [this]
                         {
                             return m_nRunning == 0 &&
                                    std::none_of(m_entries.begin(), m_entries.end(),
                                                 [](const auto& p) {
                                                     return !p->bRemoved &&
                                                            p->job.nState == DownloadState::waiting;
                                                 });
                         });
}

void CDownloadQueue::StartWorkers()
{
    std::lock_guard lock(m_lock);
    if (m_bShutdown)
        return;
    while (m_workers.size() < m_limits.nTotal)
    {
        auto pSlot = std::make_unique<CWorkerSlot>();
        size_t nSlot = m_workers.size();
        CWorkerSlot* pRaw = pSlot.get();
        m_workers.push_back(std::move(pSlot));
        pRaw->thread = std::thread([this, nSlot] { WorkerMain(nSlot); });
    }
}

void CDownloadQueue::Shutdown()
{
    {
        std::lock_guard lock(m_lock);
        m_bShutdown = true;
        for (const auto& pEntry : m_entries)
            pEntry->nStop.store(1);
        for (const auto& pSlot : m_workers)
            if (pSlot->pSession != nullptr)
                pSlot->pSession->Close();
    }
    m_cv.notify_all();
    // No worker starts once the flag is set, and the running ones still use
    // their slots: join them in place.
    size_t nWorkers = 0;
    {
        std::lock_guard lock(m_lock);
        nWorkers = m_workers.size();
    }
    for (size_t i = 0; i < nWorkers; ++i)
    {
        std::thread* pThread = nullptr;
        {
            std::lock_guard lock(m_lock);
            pThread = &m_workers[i]->thread;
        }
        if (pThread->joinable())
            pThread->join();
    }
    // The saver writes what is still asked for, then ends.
    m_saveCv.notify_all();
    if (m_saver.joinable())
        m_saver.join();
}

CDownloadQueue::CEntry* CDownloadQueue::PickJob(const CFTPSite* pHeld)
{
    CEntry* pOther = nullptr;
    for (const auto& pEntry : m_entries)
    {
        if (pEntry->bRemoved || pEntry->job.nState != DownloadState::waiting)
            continue;
        if (pHeld != nullptr && pEntry->pSite == pHeld)
            return pEntry.get();
        if (pOther == nullptr && m_openPerSite[pEntry->pSite] < m_limits.nPerSite)
            pOther = pEntry.get();
    }
    return pOther;
}

void CDownloadQueue::WorkerMain(size_t nSlot)
{
    // Transfers at full speed keep both cores busy; the window comes first.
    GiveWayToOtherThreads();
    // The connection this worker holds, kept from one file to the next.
    const CFTPSite* pHeldSite = nullptr;
    std::unique_ptr<CInternetSession> pSession;
    std::unique_ptr<CFtpConnection> pConnection;
    auto dropConnection = [&]
    {
        pConnection.reset();
        {
            std::lock_guard lock(m_lock);
            m_workers[nSlot]->pSession = nullptr;
        }
        pSession.reset();
    };

    std::unique_lock lock(m_lock);
    auto idleSince = Clock::now();
    while (!m_bShutdown)
    {
        CEntry* pEntry = nSlot < m_limits.nTotal ? PickJob(pHeldSite) : nullptr;
        if (pEntry == nullptr)
        {
            if (pHeldSite != nullptr &&
                (Clock::now() - idleSince >= IDLE_CONNECTION_TIME || nSlot >= m_limits.nTotal))
            {
                --m_openPerSite[pHeldSite];
                pHeldSite = nullptr;
                lock.unlock();
                dropConnection();
                lock.lock();
                m_cv.notify_all();
                continue;
            }
            m_cv.wait_for(lock, std::chrono::milliseconds(500));
            continue;
        }
        bool bNewSite = pEntry->pSite != pHeldSite;
        if (bNewSite)
        {
            if (pHeldSite != nullptr)
                --m_openPerSite[pHeldSite];
            pHeldSite = pEntry->pSite;
            ++m_openPerSite[pHeldSite];
        }
        pEntry->job.nState = DownloadState::running;
        pEntry->nStop.store(0);
        ++m_nRunning;
        CDownloadJob job = pEntry->job;
        CFTPSite* pSite = pEntry->pSite;
        lock.unlock();
        if (bNewSite)
            dropConnection();
        Changed();
        Save();

        ConnectionSource getConnection = [&](std::string* pError) -> CFtpConnection*
        {
            if (pConnection && pConnection->IsUsable())
            {
                pConnection->SetStopFlag(&pEntry->nStop);
                return pConnection.get();
            }
            dropConnection();
            pSession = OpenSiteSession(DownloadTimeouts());
            if (!pSession)
            {
                *pError = "创建Internet会话失败";
                return nullptr;
            }
            {
                std::lock_guard slotLock(m_lock);
                if (m_bShutdown)
                    pSession->Close();
                m_workers[nSlot]->pSession = pSession.get();
            }
            ++m_nLogins;
            pConnection = OpenSiteConnection(*pSession, *pSite, pError);
            if (!pConnection)
                return nullptr;
            pConnection->SetStopFlag(&pEntry->nStop);
            return pConnection.get();
        };
        ProgressFn onProgress = [&](uint64_t nDone, int64_t nTotal, double dSpeed)
        {
            {
                std::lock_guard progressLock(m_lock);
                pEntry->job.nDone = nDone;
                pEntry->job.nTotal = nTotal;
                pEntry->job.dSpeed = dSpeed;
            }
            Changed();
        };
        DownloadState nState = RunDownload(job, getConnection, &pEntry->nStop, onProgress);
        if (pConnection && !pConnection->IsUsable())
            dropConnection();
        if (pConnection)
            pConnection->SetStopFlag(nullptr);

        lock.lock();
        --m_nRunning;
        std::string strPart;
        if (pEntry->bRemoved)
        {
            if (nState != DownloadState::done)
                strPart = job.GetPartPath();
            m_entries.erase(std::find_if(m_entries.begin(), m_entries.end(),
                                         [pEntry](const auto& p) { return p.get() == pEntry; }));
        }
        else
        {
            job.dSpeed = 0;
            if (pEntry->nStop.load() != 0 && nState != DownloadState::done)
                job.nState = DownloadState::stopped;
            pEntry->job = std::move(job);
        }
        idleSince = Clock::now();
        lock.unlock();
        if (!strPart.empty())
            ::unlink(strPart.c_str());
        Changed();
        Save();
        lock.lock();
        m_cv.notify_all();
    }
    if (pHeldSite != nullptr)
        --m_openPerSite[pHeldSite];
    m_workers[nSlot]->pSession = nullptr;
    lock.unlock();
    pConnection.reset();
    pSession.reset();
}

void CDownloadQueue::Changed()
{
    std::function<void()> onChange;
    {
        std::lock_guard lock(m_lock);
        onChange = m_onChange;
    }
    if (onChange)
        onChange();
}

void CDownloadQueue::RequestSave()
{
    {
        std::lock_guard lock(m_lock);
        if (m_strQueueFile.empty() || m_bShutdown)
            return;
        m_bSaveWanted = true;
        if (!m_saver.joinable())
            m_saver = std::thread([this] { SaverMain(); });
    }
    m_saveCv.notify_all();
}

void CDownloadQueue::SaverMain()
{
    std::unique_lock lock(m_lock);
    for (;;)
    {
        m_saveCv.wait(lock, [this] { return m_bSaveWanted || m_bShutdown; });
        if (!m_bSaveWanted)
            return;
        m_bSaveWanted = false;
        m_bSaving = true;
        lock.unlock();
        Save();
        lock.lock();
        m_bSaving = false;
        m_saveCv.notify_all();
    }
}

void CDownloadQueue::FlushSaves()
{
    std::unique_lock lock(m_lock);
    m_saveCv.wait(lock, [this] { return (!m_bSaveWanted && !m_bSaving) || !m_saver.joinable(); });
}

void CDownloadQueue::Save()
{
    std::lock_guard saveLock(m_saveLock);
    std::string strPath;
    std::string strText;
    {
        std::lock_guard lock(m_lock);
        strPath = m_strQueueFile;
        if (strPath.empty())
            return;
        for (const auto& pEntry : m_entries)
        {
            const CDownloadJob& job = pEntry->job;
            if (pEntry->bRemoved || job.nState == DownloadState::done)
                continue;
            strText += CJsonLine()
                           .Add("site", EscapeBytes(job.strSiteKey))
                           .Add("path", EscapeBytes(job.strServerPath))
                           .Add("folder", EscapeBytes(job.strFolder))
                           .Add("relative", EscapeBytes(job.strRelative))
                           .Add("size", job.nListedSize)
                           .Add("state", StateKey(job.nState))
                           .Finish();
        }
    }
    // A job's start leaves the file as it was: no write (and no sync) then.
    if (m_savedText == strText)
        return;
    try
    {
        CAtomicFileWriter writer;
        writer.OpenOrThrow(strPath, 0600);
        writer.GetFile()->Write(strText.data(), strText.size());
        writer.Commit();
        m_savedText = std::move(strText);
        ++m_nQueueWrites;
    }
    catch (const std::exception&)
    {
        // The previous file stays; the next change tries again.
    }
}

std::vector<CDownloadJob> CDownloadQueue::LoadQueueFile(const std::string& strPath)
{
    std::vector<CDownloadJob> jobs;
    std::ifstream in(strPath, std::ios::binary);
    std::string strLine;
    while (std::getline(in, strLine))
    {
        CJsonFields fields;
        if (!ReadJsonLine(strLine, &fields))
            continue;
        CDownloadJob job;
        auto site = fields.GetString("site");
        auto path = fields.GetString("path");
        auto folder = fields.GetString("folder");
        auto relative = fields.GetString("relative");
        if (!site || !path || !folder || !relative || !PercentDecode(*site, &job.strSiteKey) ||
            !PercentDecode(*path, &job.strServerPath) || !PercentDecode(*folder, &job.strFolder) ||
            !PercentDecode(*relative, &job.strRelative) || !IsSafeRelative(job.strRelative) ||
            job.strServerPath.empty() || job.strServerPath[0] != '/' || job.strFolder.empty())
            continue;
        if (auto it = fields.GetValues().find("size");
            it != fields.GetValues().end() && it->second.nType == CJsonFields::number)
            job.nListedSize = std::strtoll(it->second.strText.c_str(), nullptr, 10);
        job.nState = fields.GetString("state") == std::optional<std::string>("failed")
                         ? DownloadState::failed
                         : DownloadState::stopped;
        jobs.push_back(std::move(job));
    }
    return jobs;
}
