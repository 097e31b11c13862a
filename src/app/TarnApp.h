#pragma once
// Start-up of the window program: the splash, the data folder (chosen as
// tarn-cli chooses it: --data-dir DIR, else $TARN_HOME, else the program
// folder's rules), the data folder's lock (held while the window runs), the
// document read from site.ds, the main window filled and shown, and the
// terminate signals routed to the window's normal closing.
//
// Thread: the GUI thread.

#include <QStringList>
#include <functional>
#include <memory>

#include "model/DataFolderLock.h"

class CControlServer;
class CMainFrame;
class CTerminateSignals;

class CTarnApp
{
public:
    CTarnApp();
    ~CTarnApp();
    CTarnApp(const CTarnApp&) = delete;
    CTarnApp& operator=(const CTarnApp&) = delete;

    // False when the program must end now, with *pnExit as its status.
    bool InitInstance(const QStringList& arguments, int* pnExit);

    CMainFrame* GetMainFrame() const { return m_pFrame.get(); }

private:
    bool ParseArguments(const QStringList& arguments, int* pnExit);
    // Takes the data folder's lock; the refusal to show when it cannot.
    QString LockDataFolder(const std::string& strFolder);

    QString m_strDataDir; // --data-dir, or empty
    bool m_bDataDirGiven = false;
    CDataFolderLock m_lock;
    std::unique_ptr<CMainFrame> m_pFrame;
    std::unique_ptr<CControlServer> m_pServer; // tarn-cli's requests
    std::function<void()> m_pfnBeforeWait;     // the splash goes before a wait
    bool m_bCancelled = false;                 // the user gave up waiting
    std::unique_ptr<CTerminateSignals> m_pSignals;
    // The window is up: a terminate signal closes it now. Before, one is
    // noted and closes it once it is up.
    bool m_bStarted = false;
    bool m_bTerminateEarly = false;
};
