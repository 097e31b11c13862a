#pragma once
// The window's end of the data folder's socket (model/ControlSocket.h): a
// writing tarn-cli command that finds the window holding the folder hands
// its request here. "update" runs through the window's own engine, as its
// "更新" would (the user sees it in the tree and the status bar), and every
// change of the sites' status goes back to tarn-cli, which prints it as a
// direct run would; "read" marks in the window's document and saves the
// marks at once, so readers of the folder see them.
//
// Request:  {"tarn":1,"cmd":"update","nargs":1,"arg0":"host","listing":"list"}
// Replies:  {"site":0,"key":"host","status":4,"text":"正在连接...","unreadable":0}
//           {"progress":"更新0/1"}
//           {"error":"..."}            (tarn-cli prints it on stderr)
//           {"done":true,"exit":0}
// tarn-cli may send {"stop":true} while its update runs (Ctrl-C).
//
// GUI thread only; the sockets are watched by QSocketNotifier.

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CFTPSite;
class CJsonFields;
class CMainFrame;
class CControlChannel;
class QSocketNotifier;

class CControlServer : public QObject
{
    Q_OBJECT

public:
    explicit CControlServer(CMainFrame& frame, QObject* pParent = nullptr);
    ~CControlServer() override;

    // Serves <strFolder>/tarn.sock (the caller holds the folder's lock).
    [[nodiscard]] bool Listen(const std::string& strFolder, std::string* pstrError);
    // Requests being answered (tests).
    size_t GetConnectionCount() const { return m_connections.size(); }

private:
    struct CSiteShown
    {
        int32_t nStatus = -1;
        std::string strText;
        uint64_t nUnreadable = 0;
    };
    struct CConnection
    {
        std::unique_ptr<CControlChannel> pChannel;
        std::unique_ptr<QSocketNotifier> pNotifier;
        bool bRequested = false;
        bool bUpdating = false;
        std::vector<CFTPSite*> sites;
        std::map<CFTPSite*, CSiteShown> shown;
        std::string strProgress;
    };

    void OnAccept();
    void OnReadable(CConnection* pConnection);
    void HandleRequest(CConnection& connection, const CJsonFields& request);
    void StartUpdate(CConnection& connection, const std::vector<std::string>& args,
                     const CJsonFields& request);
    void MarkRead(CConnection& connection, const std::vector<std::string>& args, bool bAll);
    void OnPoll();
    // Sends what changed; true when every site of the update is idle.
    bool Report(CConnection& connection);
    static void Finish(CConnection& connection, int nExit, const std::string& strError = {});
    void Drop(CConnection* pConnection);

    CMainFrame& m_frame;
    int m_fdListen = -1;
    std::string m_strPath;
    std::unique_ptr<QSocketNotifier> m_pAcceptNotifier;
    std::vector<std::unique_ptr<CConnection>> m_connections;
    QTimer m_pollTimer;
};
