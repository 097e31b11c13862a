#include "support/FtpServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace
{
std::vector<std::string> SplitTabs(const std::string& strLine)
{
    std::vector<std::string> fields;
    size_t nStart = 0;
    for (;;)
    {
        size_t nTab = strLine.find('\t', nStart);
        fields.push_back(strLine.substr(nStart, nTab - nStart));
        if (nTab == std::string::npos)
            return fields;
        nStart = nTab + 1;
    }
}

void WriteWhole(const std::string& strPath, const std::string& strText)
{
    // Written beside and renamed, so the server never reads half a file.
    std::string strTemp = strPath + ".tmp";
    {
        std::ofstream out(strTemp, std::ios::binary | std::ios::trunc);
        out << strText;
    }
    std::filesystem::rename(strTemp, strPath);
}
} // namespace

CTestFtpServer::CTestFtpServer(std::string strRoot) : CTestFtpServer(std::move(strRoot), COptions())
{
}

CTestFtpServer::CTestFtpServer(std::string strRoot, COptions options)
    : m_strRoot(std::move(strRoot)), m_options(std::move(options))
{
    char szTemplate[] = "/tmp/tarn-ftpd-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_strStateDir = szTemplate;
    m_strLogPath = m_strStateDir + "/commands.log";
    m_strFaultPath = m_strStateDir + "/faults.json";
    WriteWhole(m_strLogPath, "");
    WriteWhole(m_strFaultPath, "{}");

    std::vector<std::string> args = {"/usr/bin/python3",
                                     TARN_TEST_FTP_SERVER,
                                     m_strRoot,
                                     "--log",
                                     m_strLogPath,
                                     "--faults",
                                     m_strFaultPath,
                                     "--user",
                                     m_options.strUser,
                                     "--password",
                                     m_options.strPassword,
                                     "--quiet"};
    if (m_options.bNoMlsd)
        args.push_back("--no-mlsd");
    if (m_options.bNoUtf8)
        args.push_back("--no-utf8");
    if (m_options.bDos)
        args.push_back("--dos");
    if (!m_options.strTlsCertFile.empty())
    {
        args.insert(args.end(), {"--tls", m_options.strTlsCertFile, m_options.strTlsKeyFile});
        if (m_options.bRefuseProt)
            args.push_back("--refuse-prot");
    }
    std::vector<char*> argv;
    for (std::string& str : args)
        argv.push_back(str.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    int nError = posix_spawn(&m_nPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (nError != 0)
    {
        close(fds[0]);
        throw std::runtime_error("cannot start the test FTP server");
    }

    // The first line is the port; it also says the server is listening.
    std::string strLine;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (strLine.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
    {
        pollfd pfd{fds[0], POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        char buffer[64];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        strLine.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    m_nPort = static_cast<uint16_t>(std::atoi(strLine.c_str()));
    if (m_nPort == 0)
    {
        kill(m_nPid, SIGKILL);
        waitpid(m_nPid, nullptr, 0);
        m_nPid = -1;
        throw std::runtime_error("the test FTP server did not report its port");
    }
}

CTestFtpServer::~CTestFtpServer()
{
    if (m_nPid > 0)
    {
        kill(m_nPid, SIGTERM);
        int nStatus = 0;
        for (int i = 0; i < 200; ++i)
        {
            if (waitpid(m_nPid, &nStatus, WNOHANG) == m_nPid)
            {
                m_nPid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (m_nPid > 0)
        {
            kill(m_nPid, SIGKILL);
            waitpid(m_nPid, &nStatus, 0);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(m_strStateDir, ec);
}

void CTestFtpServer::SetFaults(const std::string& strJson)
{
    WriteWhole(m_strFaultPath, strJson.empty() ? "{}" : strJson);
}

std::vector<std::vector<std::string>> CTestFtpServer::ReadLogEvents() const
{
    std::ifstream in(m_strLogPath, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string str = buffer.str();
    std::istringstream lines(m_nLogStart <= str.size() ? str.substr(m_nLogStart) : std::string());
    std::vector<std::vector<std::string>> events;
    std::string strLine;
    while (std::getline(lines, strLine))
    {
        std::vector<std::string> fields = SplitTabs(strLine);
        if (fields.size() >= 2)
            events.push_back(std::move(fields));
    }
    return events;
}

void CTestFtpServer::ClearLog()
{
    std::error_code ec;
    m_nLogStart = static_cast<size_t>(std::filesystem::file_size(m_strLogPath, ec));
}

std::vector<CTestFtpServer::CSession> CTestFtpServer::GetSessions() const
{
    std::vector<CSession> sessions;
    std::map<int, size_t> index;
    for (const auto& fields : ReadLogEvents())
    {
        int nId = std::atoi(fields[0].c_str());
        auto it = index.find(nId);
        if (it == index.end())
        {
            it = index.emplace(nId, sessions.size()).first;
            sessions.push_back(CSession{nId, false, {}});
        }
        CSession& session = sessions[it->second];
        if (fields[1] == "CLOSE")
            session.bClosed = true;
        else if (fields[1] == "CMD" && fields.size() >= 5)
            session.commands.push_back(CCommand{fields[2], fields[3], fields[4]});
    }
    return sessions;
}

int CTestFtpServer::CountSessions() const
{
    int nCount = 0;
    for (const auto& fields : ReadLogEvents())
        nCount += fields[1] == "CONNECT";
    return nCount;
}

int CTestFtpServer::GetMaxSimultaneousSessions() const
{
    int nNow = 0;
    int nMax = 0;
    for (const auto& fields : ReadLogEvents())
    {
        if (fields[1] == "CONNECT")
            nMax = std::max(nMax, ++nNow);
        else if (fields[1] == "CLOSE")
            --nNow;
    }
    return nMax;
}

std::vector<CTestFtpServer::CCommand> CTestFtpServer::GetCommands(const std::string& strVerb) const
{
    std::vector<CCommand> commands;
    for (const auto& fields : ReadLogEvents())
        if (fields.size() >= 5 && fields[1] == "CMD" && fields[2] == strVerb)
            commands.push_back(CCommand{fields[2], fields[3], fields[4]});
    return commands;
}

int CTestFtpServer::CountCommands(const std::string& strVerb) const
{
    return static_cast<int>(GetCommands(strVerb).size());
}

std::vector<std::string> CTestFtpServer::GetListedFolders() const
{
    std::vector<std::string> folders;
    for (const auto& fields : ReadLogEvents())
    {
        if (fields.size() < 5 || fields[1] != "CMD")
            continue;
        bool bStat = fields[2] == "STAT";
        if (fields[2] != "LIST" && fields[2] != "MLSD" && fields[2] != "NLST" && !bStat)
            continue;
        if (bStat && fields[3].empty())
            continue; // the server's status, not a listing
        bool bPath = !fields[3].empty() && fields[3][0] != '-' && fields[3] != ".";
        folders.push_back(bPath ? fields[3] : fields[4]);
    }
    return folders;
}

bool CTestFtpServer::WaitSessionsClosed(int nTimeoutMs) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;)
    {
        std::vector<CSession> sessions = GetSessions();
        bool bAllClosed = true;
        for (const CSession& session : sessions)
            bAllClosed = bAllClosed && session.bClosed;
        if (bAllClosed)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
