#include "TarnApp.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "TerminateSignals.h"
#include "doc/TarnDoc.h"
#include "model/ControlSocket.h"
#include "model/ProgramFolder.h"
#include "ui/ControlServer.h"
#include "ui/FolderWait.h"
#include "ui/MainFrame.h"
#include "ui/MessageBox.h"
#include "ui/QtTranslations.h"
#include "ui/Splash.h"
#include "ui/TarnSettings.h"

namespace
{
// What start-up says.
const char* const TEXT_USAGE = "Usage: tarn [--data-dir DIR]\n"
                               "  --data-dir DIR  the data folder (default: $TARN_HOME, else the "
                               "program folder)\n";
const char* const TEXT_NO_DATA_FOLDER = "无法使用数据文件夹：";
const char* const TEXT_OPEN_IN_WINDOW = "另一个 Tarn 窗口已经打开了数据文件夹 %1，本窗口将退出。";
const char* const TEXT_OPEN_IN_CLI = "数据文件夹 %1 正被 tarn-cli 使用，请稍后再试。";
const char* const TEXT_CANNOT_LOCK = "无法锁定数据文件夹 %1：%2";
const char* const TEXT_NO_SIGNALS =
    "tarn: 无法接收终止信号（SIGTERM、SIGINT、SIGHUP），被终止时改过的已读标记将不会保存\n";

constexpr int EXIT_USAGE = 2;

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

CTarnApp::CTarnApp() = default;

CTarnApp::~CTarnApp()
{
    // The window (and with it the document) goes before the lock; the
    // socket that asks the window for work before the window.
    m_pServer.reset();
    m_pFrame.reset();
    m_lock.Release();
}

bool CTarnApp::ParseArguments(const QStringList& arguments, int* pnExit)
{
    for (qsizetype i = 1; i < arguments.size(); ++i)
    {
        const QString& strArg = arguments[i];
        if (strArg == "-h" || strArg == "--help")
        {
            std::fputs(TEXT_USAGE, stdout);
            *pnExit = 0;
            return false;
        }
        if (strArg == "--data-dir" && i + 1 < arguments.size())
        {
            m_strDataDir = arguments[++i];
            m_bDataDirGiven = true;
        }
        else if (strArg.startsWith("--data-dir="))
        {
            m_strDataDir = strArg.mid(qsizetype(sizeof("--data-dir=") - 1));
            m_bDataDirGiven = true;
        }
        else
        {
            std::fprintf(stderr, "tarn: unknown argument %s\n%s", qPrintable(strArg), TEXT_USAGE);
            *pnExit = EXIT_USAGE;
            return false;
        }
    }
    return true;
}

QString CTarnApp::LockDataFolder(const std::string& strFolder)
{
    QString strShown = QString::fromStdString(strFolder);
    m_lock.SetHolderName(CDataFolderLock::HOLDER_WINDOW);
    std::string strError;
    auto result = m_lock.Acquire(strFolder, std::chrono::milliseconds(0), &strError);
    // Another window keeps its folder for as long as it runs; tarn-cli only
    // for one command (a scheduled update may take long): the window opens
    // when it ends.
    if (result == CDataFolderLock::Result::busy &&
        CDataFolderLock::ReadHolderName(strFolder) == CDataFolderLock::HOLDER_CLI)
    {
        if (m_pfnBeforeWait)
            m_pfnBeforeWait();
        if (WaitForBackgroundUpdate(&m_lock, strFolder))
            return {};
        m_bCancelled = true;
        return {}; // not taken: m_bCancelled says so
    }
    if (result == CDataFolderLock::Result::busy &&
        CDataFolderLock::ReadHolderName(strFolder) != CDataFolderLock::HOLDER_WINDOW)
        result = m_lock.Acquire(strFolder, CDataFolderLock::DEFAULT_WAIT, &strError);
    switch (result)
    {
    case CDataFolderLock::Result::taken:
        return {};
    case CDataFolderLock::Result::busy:
        if (CDataFolderLock::ReadHolderName(strFolder) == CDataFolderLock::HOLDER_CLI)
            return Text(TEXT_OPEN_IN_CLI).arg(strShown);
        return Text(TEXT_OPEN_IN_WINDOW).arg(strShown);
    case CDataFolderLock::Result::failed:
        break;
    }
    return Text(TEXT_CANNOT_LOCK).arg(strShown, QString::fromStdString(strError));
}

bool CTarnApp::InitInstance(const QStringList& arguments, int* pnExit)
{
    *pnExit = 1;
    if (!ParseArguments(arguments, pnExit))
        return false;
    QCoreApplication::setOrganizationName(TarnSettingsOrganization());
    QCoreApplication::setApplicationName(TarnSettingsApplication());
    QGuiApplication::setDesktopFileName(QStringLiteral("tarn"));
    // Without them Qt's own buttons and dialogs stay English: nothing worse.
    (void)InstallQtTranslations();

    // From here on a signal closes the window the normal way, even one that
    // comes before the window is up (it closes as soon as it is).
    m_pSignals = std::make_unique<CTerminateSignals>();
    if (!m_pSignals->IsInstalled())
        std::fputs(TEXT_NO_SIGNALS, stderr);
    QObject::connect(m_pSignals.get(), &CTerminateSignals::Terminate, m_pSignals.get(),
                     [this]
                     {
                         if (m_bStarted)
                             m_pFrame->CloseOnSignal();
                         else
                             m_bTerminateEarly = true;
                     });

    // The picture stays up for a second while the rest goes on.
    CStartupSplash splash;

    std::string strNamed = m_strDataDir.toStdString();
    std::string strFolder;
    std::string strError;
    if (!ChooseDataFolder(m_bDataDirGiven ? &strNamed : nullptr, &strFolder, &strError))
    {
        splash.Finish();
        TarnMessageBox(nullptr, Text(TEXT_NO_DATA_FOLDER) + QString::fromStdString(strError));
        return false;
    }
    SetProgramFolder(strFolder);
    m_pfnBeforeWait = [&splash] { splash.Finish(); };
    QString strRefusal = LockDataFolder(strFolder);
    m_pfnBeforeWait = nullptr;
    if (m_bCancelled)
    {
        *pnExit = 0;
        return false;
    }
    if (!strRefusal.isEmpty())
    {
        splash.Finish();
        TarnMessageBox(nullptr, strRefusal);
        return false;
    }
    // Only the lock's holder serves the socket: one left there is a killed window's.
    RemoveStaleControlSocket(strFolder);

    m_pFrame = std::make_unique<CMainFrame>();
    (void)m_pFrame->GetDoc().OnNewDocument();
    m_pFrame->OnInitialUpdate();
    m_pServer = std::make_unique<CControlServer>(*m_pFrame);
    std::string strSocketError;
    if (!m_pServer->Listen(strFolder, &strSocketError))
    {
        // tarn-cli then says the window does not answer; the window works on.
        std::fprintf(stderr, "tarn: cannot open %s: %s\n", GetControlSocketPath(strFolder).c_str(),
                     strSocketError.c_str());
        m_pServer.reset();
    }

    m_pFrame->show();
    splash.Finish(m_pFrame.get());
    // Closed before it was shown, the window would come back by show().
    m_bStarted = true;
    if (m_bTerminateEarly)
        QTimer::singleShot(0, m_pFrame.get(), &CMainFrame::CloseOnSignal);
    *pnExit = 0;
    return true;
}
