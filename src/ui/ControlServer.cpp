#include "ui/ControlServer.h"

#include <QSocketNotifier>
#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>

#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/ControlSocket.h"
#include "model/FTPSite.h"
#include "model/File.h"
#include "model/Json.h"
#include "model/SiteSettings.h"
#include "ui/MainFrame.h"

namespace
{
constexpr int POLL_PERIOD_MS = 100;
constexpr uint64_t MAX_ARGS = 100000;
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
} // namespace

CControlServer::CControlServer(CMainFrame& frame, QObject* pParent)
    : QObject(pParent), m_frame(frame)
{
    m_pollTimer.setInterval(POLL_PERIOD_MS);
    connect(&m_pollTimer, &QTimer::timeout, this, &CControlServer::OnPoll);
}

CControlServer::~CControlServer()
{
    m_connections.clear();
    m_pAcceptNotifier.reset();
    if (m_fdListen >= 0)
    {
        ::close(m_fdListen);
        ::unlink(m_strPath.c_str());
    }
}

bool CControlServer::Listen(const std::string& strFolder, std::string* pstrError)
{
    m_fdListen = ListenControlSocket(strFolder, pstrError);
    if (m_fdListen < 0)
        return false;
    m_strPath = GetControlSocketPath(strFolder);
    m_pAcceptNotifier = std::make_unique<QSocketNotifier>(m_fdListen, QSocketNotifier::Read);
    connect(m_pAcceptNotifier.get(), &QSocketNotifier::activated, this, &CControlServer::OnAccept);
    return true;
}

void CControlServer::OnAccept()
{
    for (;;)
    {
        int fd = ::accept4(m_fdListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // The file's mode keeps others out; the peer's user is checked too.
        if (!IsPeerSameUser(fd))
        {
            ::close(fd);
            continue;
        }
        auto pConnection = std::make_unique<CConnection>();
        pConnection->pChannel = std::make_unique<CControlChannel>(fd);
        pConnection->pNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        CConnection* p = pConnection.get();
        connect(p->pNotifier.get(), &QSocketNotifier::activated, this,
                [this, p] { OnReadable(p); });
        m_connections.push_back(std::move(pConnection));
    }
}

void CControlServer::OnReadable(CConnection* pConnection)
{
    std::string strLine;
    for (;;)
    {
        switch (pConnection->pChannel->ReadLine(&strLine, std::chrono::milliseconds(0)))
        {
        case CControlChannel::ReadResult::timeout:
            return;
        case CControlChannel::ReadResult::closed:
            // tarn-cli went away: an update it asked for goes on in the window.
            Drop(pConnection);
            return;
        case CControlChannel::ReadResult::line:
            break;
        }
        CJsonFields fields;
        bool bRead = ReadJsonLine(strLine, &fields);
        if (pConnection->bRequested)
        {
            if (bRead && fields.GetBool("stop").value_or(false) && pConnection->bUpdating)
                m_frame.StopUpdates();
            continue;
        }
        pConnection->bRequested = true;
        if (!bRead)
        {
            Finish(*pConnection, EXIT_USAGE, "the Tarn window could not read the request");
            continue;
        }
        HandleRequest(*pConnection, fields);
    }
}

void CControlServer::HandleRequest(CConnection& connection, const CJsonFields& request)
{
    if (request.GetUnsigned("tarn").value_or(0) != uint64_t(CONTROL_PROTOCOL))
    {
        Finish(connection, EXIT_USAGE,
               "this Tarn window speaks another version of tarn-cli's requests");
        return;
    }
    uint64_t nArgs = std::min(request.GetUnsigned("nargs").value_or(0), MAX_ARGS);
    std::vector<std::string> args;
    for (uint64_t i = 0; i < nArgs; ++i)
    {
        std::optional<std::string> strArg = request.GetString("arg" + std::to_string(i));
        if (!strArg)
        {
            Finish(connection, EXIT_USAGE, "the Tarn window could not read the request");
            return;
        }
        args.push_back(*strArg);
    }
    std::string strCommand = request.GetString("cmd").value_or("");
    if (strCommand == "update")
        StartUpdate(connection, args, request);
    else if (strCommand == "read")
        MarkRead(connection, args, request.GetBool("all").value_or(false));
    else
        Finish(connection, EXIT_FAILED,
               "the Tarn window does not run '" + strCommand +
                   "' for tarn-cli; make the change "
                   "in the window or close it first");
}

void CControlServer::StartUpdate(CConnection& connection, const std::vector<std::string>& args,
                                 const CJsonFields& request)
{
    CTarnDoc& doc = m_frame.GetDoc();
    std::vector<CFTPDir*> folders;
    for (const std::string& strArg : args)
    {
        CEntryRef ref;
        if (ResolveAddress(doc, strArg, &ref) != ResolveResult::found || ref.pDir == nullptr)
        {
            Finish(connection, EXIT_FAILED,
                   "the Tarn window has no cached folder at '" + strArg + "'");
            return;
        }
        bool bSiteTaken = std::any_of(folders.begin(), folders.end(),
                                      [&](CFTPDir* p) { return p->GetSite() == ref.pSite; });
        if (!bSiteTaken)
            folders.push_back(ref.pDir);
    }
    if (folders.empty())
    {
        for (const auto& pSite : doc.m_siteList)
            connection.sites.push_back(pSite.get());
    }
    for (CFTPDir* pDir : folders)
        connection.sites.push_back(pDir->GetSite());

    ListingMode nMode = ListingMode::automatic;
    std::optional<std::string> strListing = request.GetString("listing");
    if (strListing && ParseListingMode(*strListing, &nMode))
    {
        for (CFTPSite* pSite : connection.sites)
        {
            try
            {
                pSite->UpdateSettings([nMode](CSiteSettings& settings)
                                      { settings.Set(CSiteSettings::LISTING, nMode); });
            }
            catch (const CFileException& e)
            {
                Finish(connection, EXIT_FAILED,
                       "cannot keep the listing mode of " + pSite->GetKey() + ": " +
                           e.GetErrorText());
                return;
            }
        }
    }
    connection.bUpdating = true;
    m_frame.UpdateFolders(folders);
    (void)Report(connection);
    if (!m_pollTimer.isActive())
        m_pollTimer.start();
}

void CControlServer::MarkRead(CConnection& connection, const std::vector<std::string>& args,
                              bool bAll)
{
    std::vector<CEntryRef> refs;
    for (const std::string& strArg : args)
    {
        CEntryRef ref;
        if (ResolveAddress(m_frame.GetDoc(), strArg, &ref) != ResolveResult::found)
        {
            Finish(connection, EXIT_FAILED, "the Tarn window has nothing at '" + strArg + "'");
            return;
        }
        refs.push_back(ref);
    }
    std::string strError = m_frame.MarkEntriesRead(bAll, refs);
    Finish(connection, strError.empty() ? EXIT_OK : EXIT_FAILED, strError);
}

bool CControlServer::Report(CConnection& connection)
{
    CTarnDoc& doc = m_frame.GetDoc();
    bool bIdle = true;
    for (CFTPSite* pSite : connection.sites)
    {
        if (!doc.HasSite(pSite))
            continue;
        if (IsSiteBusy(*pSite))
            bIdle = false;
        CSiteShown now{pSite->m_nStatus.load(), pSite->GetStatusText(),
                       pSite->m_nUnreadableLines.load()};
        CSiteShown& shown = connection.shown[pSite];
        if (now.nStatus == shown.nStatus && now.strText == shown.strText &&
            now.nUnreadable == shown.nUnreadable)
            continue;
        shown = now;
        auto it = std::find_if(doc.m_siteList.begin(), doc.m_siteList.end(),
                               [pSite](const auto& p) { return p.get() == pSite; });
        (void)connection.pChannel->WriteLine(
            CJsonLine()
                .Add("site", static_cast<int64_t>(it - doc.m_siteList.begin()))
                .Add("key", pSite->GetKey())
                .Add("status", now.nStatus)
                .Add("text", now.strText)
                .Add("unreadable", now.nUnreadable)
                .Finish());
    }
    std::string strProgress = m_frame.StatusText().toStdString();
    if (strProgress != connection.strProgress && strProgress.rfind("更新", 0) == 0)
    {
        connection.strProgress = strProgress;
        (void)connection.pChannel->WriteLine(CJsonLine().Add("progress", strProgress).Finish());
    }
    return bIdle;
}

void CControlServer::OnPoll()
{
    bool bAnyUpdating = false;
    for (size_t i = 0; i < m_connections.size();)
    {
        CConnection& connection = *m_connections[i];
        if (connection.bUpdating && Report(connection))
        {
            connection.bUpdating = false;
            Finish(connection, EXIT_OK);
        }
        bAnyUpdating = bAnyUpdating || connection.bUpdating;
        ++i;
    }
    if (!bAnyUpdating)
        m_pollTimer.stop();
}

void CControlServer::Finish(CConnection& connection, int nExit, const std::string& strError)
{
    CJsonLine reply;
    reply.Add("done", true).Add("exit", static_cast<int64_t>(nExit));
    if (!strError.empty())
        reply.Add("error", strError);
    (void)connection.pChannel->WriteLine(reply.Finish());
}

void CControlServer::Drop(CConnection* pConnection)
{
    // Called from its own notifier's signal: the object goes once that returns.
    auto it = std::find_if(m_connections.begin(), m_connections.end(),
                           [pConnection](const auto& p) { return p.get() == pConnection; });
    if (it == m_connections.end())
        return;
    std::unique_ptr<CConnection> pGone = std::move(*it);
    m_connections.erase(it);
    pGone->pNotifier->setEnabled(false);
    QSocketNotifier* pNotifier = pGone->pNotifier.release();
    pNotifier->deleteLater();
}
