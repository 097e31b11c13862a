#pragma once
// The local FTP server of the tests (tests/support/ftpserver.py) as an
// object: started on a folder the test builds, listening on 127.0.0.1 with a
// free port, stopped when the object goes away. Faults are injected through
// the server (magic folder names or SetFaults), never by mocking our code.
//
// Threads: create, query and destroy it on the test's thread; the server
// itself is a separate process.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class CTestFtpServer
{
public:
    struct COptions
    {
        std::string strUser = "user";
        std::string strPassword = "pass";
        bool bNoMlsd = false; // LIST only, FEAT without MLST
        bool bDos = false;    // LIST answers in the DOS/IIS format
        bool bNoUtf8 = false; // FEAT without UTF8, "OPTS UTF8 ON" refused
        // FTP over TLS offered (not required) with this PEM certificate and
        // key; a PASS sent unprotected is then logged as "****** in clear".
        std::string strTlsCertFile;
        std::string strTlsKeyFile;
        bool bRefuseProt = false; // "PROT P" answered 536
    };

    // One logged command of one session.
    struct CCommand
    {
        std::string strVerb;     // "CWD", "LIST", "MLSD", ...
        std::string strArgument; // as sent ("******" for PASS, see COptions)
        std::string strCwd;      // the session's folder before the command
    };

    struct CSession
    {
        int nId = 0;
        bool bClosed = false;
        std::vector<CCommand> commands;
    };

    explicit CTestFtpServer(std::string strRoot);
    CTestFtpServer(std::string strRoot, COptions options);
    ~CTestFtpServer();
    CTestFtpServer(const CTestFtpServer&) = delete;
    CTestFtpServer& operator=(const CTestFtpServer&) = delete;

    const std::string& GetRoot() const { return m_strRoot; }
    uint16_t GetPort() const { return m_nPort; }
    const std::string& GetUser() const { return m_options.strUser; }
    const std::string& GetPassword() const { return m_options.strPassword; }

    // Replaces the fault file (JSON, see ftpserver.py); the server re-reads
    // it on every command. An empty text clears every fault.
    void SetFaults(const std::string& strJson);
    void ClearFaults() { SetFaults(""); }

    // The command log, parsed. ClearLog forgets what was logged so far.
    std::vector<CSession> GetSessions() const;
    void ClearLog();
    int CountSessions() const;
    // Most sessions connected at the same moment.
    int GetMaxSimultaneousSessions() const;
    // Every command with this verb, over all sessions, in log order.
    std::vector<CCommand> GetCommands(const std::string& strVerb) const;
    int CountCommands(const std::string& strVerb) const;
    // The folders listed (LIST, MLSD, NLST, STAT with an argument), in
    // order: the argument when it is a path, otherwise the session's
    // current folder.
    std::vector<std::string> GetListedFolders() const;
    // Waits until every logged session has closed (false on time-out).
    bool WaitSessionsClosed(int nTimeoutMs = 5000) const;

private:
    // The log since ClearLog, one event per line split at its tabs
    // (session, kind, then the kind's fields); lines without a kind dropped.
    std::vector<std::vector<std::string>> ReadLogEvents() const;

    std::string m_strRoot;
    COptions m_options;
    std::string m_strStateDir;
    std::string m_strLogPath;
    std::string m_strFaultPath;
    uint16_t m_nPort = 0;
    pid_t m_nPid = -1;
    size_t m_nLogStart = 0;
};
