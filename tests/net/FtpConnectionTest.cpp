#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "net/FtpConnection.h"
#include "net/FtpFileFind.h"
#include "net/InternetError.h"
#include "net/InternetSession.h"
#include "support/FtpServer.h"
#include "support/LoopbackPort.h"
#include "support/TempDir.h"

namespace
{
void MakeDir(const std::string& strPath)
{
    std::filesystem::create_directories(strPath);
}

void MakeFile(const std::string& strPath, size_t nSize)
{
    std::ofstream(strPath, std::ios::binary) << std::string(nSize, 'x');
}

// Short time-outs keep the failure cases fast.
std::unique_ptr<CInternetSession> MakeSession(uint32_t nReceiveMs = 1000)
{
    auto pSession = std::make_unique<CInternetSession>("my");
    EXPECT_TRUE(pSession->SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, 1000));
    EXPECT_TRUE(pSession->SetOption(INTERNET_OPTION_CONTROL_SEND_TIMEOUT, 1000));
    EXPECT_TRUE(pSession->SetOption(INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT, nReceiveMs));
    EXPECT_TRUE(pSession->SetOption(INTERNET_OPTION_DATA_SEND_TIMEOUT, 1000));
    EXPECT_TRUE(pSession->SetOption(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, nReceiveMs));
    EXPECT_TRUE(pSession->SetOption(INTERNET_OPTION_CONNECT_RETRIES, 1));
    return pSession;
}

std::vector<std::string> Names(CFtpConnection& connection)
{
    std::vector<std::string> names;
    CFtpFileFind find(&connection);
    if (!find.FindFile())
        return names;
    bool bMore = true;
    while (bMore)
    {
        bMore = find.FindNextFile();
        names.push_back(find.GetFileName() + (find.IsDirectory() ? "/" : ""));
    }
    find.Close();
    std::sort(names.begin(), names.end());
    return names;
}

class FtpConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string& r = m_root.Path();
        MakeDir(r + "/pub/sub dir");
        MakeFile(r + "/pub/a.txt", 3);
        MakeFile(r + "/pub/sub dir/b c.bin", 5);
        MakeDir(r + "/empty");
        MakeDir(r + "/__refuse_cwd__");
        MakeDir(r + "/__refuse_list__");
        MakeDir(r + "/__drop_on_cwd__");
        MakeDir(r + "/__drop_on_list__");
        MakeDir(r + "/__silent_on_list__");
        MakeDir(r + "/__stall_list__");
        MakeDir(r + "/__partial_list__");
        for (int i = 0; i < 40; ++i)
            MakeFile(r + "/__partial_list__/f" + std::to_string(i), 1);
        std::filesystem::create_directory_symlink("..", r + "/pub/loop");
        m_pServer = std::make_unique<CTestFtpServer>(r);
    }

    std::unique_ptr<CFtpConnection> Connect(CInternetSession& session)
    {
        return session.GetFtpConnection("127.0.0.1", m_pServer->GetUser(), m_pServer->GetPassword(),
                                        m_pServer->GetPort());
    }

    CTempDir m_root;
    std::unique_ptr<CTestFtpServer> m_pServer;
};
} // namespace

TEST_F(FtpConnectionTest, ListsFoldersOverOneLoginWithThreeCommandsPerFolder)
{
    auto pSession = MakeSession();
    auto pConnection = Connect(*pSession);
    EXPECT_TRUE(pConnection->UsesMlsd());
    m_pServer->ClearLog();

    ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub"));
    EXPECT_EQ(Names(*pConnection), (std::vector<std::string>{"a.txt", "loop", "sub dir/"}));
    ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub/sub dir"));
    EXPECT_EQ(Names(*pConnection), (std::vector<std::string>{"b c.bin"}));
    ASSERT_TRUE(pConnection->SetCurrentDirectory("/"));
    EXPECT_FALSE(Names(*pConnection).empty());

    EXPECT_EQ(m_pServer->CountSessions(), 0); // no new login
    std::vector<CTestFtpServer::CCommand> cwds = m_pServer->GetCommands("CWD");
    ASSERT_EQ(cwds.size(), 3u);
    EXPECT_EQ(cwds[1].strArgument, "/pub/sub dir");
    EXPECT_EQ(m_pServer->GetListedFolders(), (std::vector<std::string>{"/pub", "/pub/sub dir", "/"}));
    // CWD, EPSV, MLSD per folder (TYPE once at most).
    size_t nCommands = 0;
    for (const CTestFtpServer::CSession& session : m_pServer->GetSessions())
        nCommands += session.commands.size();
    EXPECT_LE(nCommands, 3u * 3u + 1u);
}

TEST_F(FtpConnectionTest, ErrorClassification)
{
    struct CCase
    {
        const char* pszName;
        const char* pszFolder;
        bool bCwdFails;
        uint32_t nError;
        bool bLost;
    };
    const CCase cases[] = {
        {"refused CWD", "/__refuse_cwd__", true, ERROR_INTERNET_EXTENDED_ERROR, false},
        {"refused listing", "/__refuse_list__", false, ERROR_INTERNET_EXTENDED_ERROR, false},
        {"empty folder", "/empty", false, ERROR_NO_MORE_FILES, false},
        {"CWD into a missing folder", "/missing", true, ERROR_INTERNET_EXTENDED_ERROR, false},
        {"dropped control connection on CWD", "/__drop_on_cwd__", true, ERROR_FTP_DROPPED, true},
        {"dropped control connection on listing", "/__drop_on_list__", false, ERROR_FTP_DROPPED, true},
        {"reset in the middle of a listing", "/__partial_list__", false, ERROR_INTERNET_CONNECTION_RESET, true},
        {"421 reply to the listing", "/busy", false, ERROR_FTP_DROPPED, true},
        {"425 reply to the listing", "/nodata", false, ERROR_INTERNET_CONNECTION_ABORTED, true},
        {"silent server", "/__silent_on_list__", false, ERROR_INTERNET_TIMEOUT, true},
        {"stalled data connection", "/__stall_list__", false, ERROR_INTERNET_TIMEOUT, true},
    };
    MakeDir(m_root / "busy");
    MakeDir(m_root / "nodata");
    m_pServer->SetFaults(R"({"rules": [
        {"on": "LIST", "path": "/busy", "action": "reply", "reply": "421 Too many users."},
        {"on": "LIST", "path": "/nodata", "action": "reply", "reply": "425 No data connection."}]})");
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        auto pSession = MakeSession();
        auto pConnection = Connect(*pSession);
        SetLastInternetError(0);
        bool bCwd = pConnection->SetCurrentDirectory(c.pszFolder);
        ASSERT_EQ(bCwd, !c.bCwdFails);
        uint32_t nError = GetLastInternetError();
        if (bCwd)
        {
            CFtpFileFind find(pConnection.get());
            EXPECT_FALSE(find.FindFile());
            EXPECT_EQ(find.GetFileName(), ""); // a partial listing yields nothing
            nError = GetLastInternetError();
        }
        EXPECT_EQ(nError, c.nError);
        EXPECT_EQ(IsConnectionLost(nError), c.bLost) << nError;
        EXPECT_FALSE(FormatInternetError(nError).empty());
        // An ordinary failure leaves the connection usable.
        if (!c.bLost)
        {
            ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub"));
            EXPECT_EQ(Names(*pConnection).size(), 3u);
        }
        else
        {
            EXPECT_FALSE(pConnection->SetCurrentDirectory("/pub"));
        }
    }
    EXPECT_TRUE(m_pServer->WaitSessionsClosed());
}

TEST_F(FtpConnectionTest, ConnectFailuresRaiseWithText)
{
    auto pSession = MakeSession();
    try
    {
        auto pConnection = pSession->GetFtpConnection("127.0.0.1", "user", "wrong", m_pServer->GetPort());
        FAIL() << "wrong password accepted";
    }
    catch (const CInternetException& e)
    {
        EXPECT_FALSE(IsConnectionLost(e.m_dwError));
        EXPECT_NE(e.GetErrorMessage().find("530"), std::string::npos) << e.GetErrorMessage();
    }
    try
    {
        auto pConnection = pSession->GetFtpConnection("127.0.0.1", "user", "pass", FindFreeLoopbackPort());
        FAIL() << "connected to a closed port";
    }
    catch (const CInternetException& e)
    {
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_CANNOT_CONNECT);
        EXPECT_EQ(e.GetErrorMessage(), FormatInternetError(ERROR_INTERNET_CANNOT_CONNECT));
    }
    // Anonymous login works too.
    auto pAnonymous = pSession->GetFtpConnection("127.0.0.1", "anonymous", "a@b.c", m_pServer->GetPort());
    EXPECT_TRUE(pAnonymous->SetCurrentDirectory("/pub"));
}

TEST(InternetExceptionTest, ErrorMessageIsCutOnCharacterBoundary)
{
    CInternetException e(ERROR_INTERNET_EXTENDED_ERROR, std::string(1022, 'a') + "\xe4\xb8\xad");
    EXPECT_EQ(e.GetErrorMessage(1024), std::string(1022, 'a'));
    EXPECT_EQ(e.GetErrorMessage(), std::string(1022, 'a'));
    EXPECT_EQ(e.GetErrorMessage(2000).size(), 1025u);
}

TEST_F(FtpConnectionTest, MlsdRefusedAsUnknownFallsBackToListForGood)
{
    m_pServer->SetFaults(R"({"rules": [{"on": "MLSD", "action": "reply", "reply": "500 Unknown command.", "times": 1}]})");
    auto pSession = MakeSession();
    auto pConnection = Connect(*pSession);
    m_pServer->ClearLog();
    ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub"));
    EXPECT_EQ(Names(*pConnection), (std::vector<std::string>{"a.txt", "loop", "sub dir/"}));
    EXPECT_FALSE(pConnection->UsesMlsd());
    ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub/sub dir"));
    EXPECT_EQ(Names(*pConnection), (std::vector<std::string>{"b c.bin"}));
    EXPECT_EQ(m_pServer->CountCommands("MLSD"), 1);
    EXPECT_EQ(m_pServer->CountCommands("LIST"), 2);
}

TEST_F(FtpConnectionTest, ServersWithoutMlsdAndDosListings)
{
    for (bool bDos : {false, true})
    {
        SCOPED_TRACE(bDos ? "DOS" : "no MLSD");
        m_pServer->SetFaults(bDos ? R"({"no_mlsd": true, "dos": true})" : R"({"no_mlsd": true})");
        auto pSession = MakeSession();
        auto pConnection = Connect(*pSession);
        EXPECT_FALSE(pConnection->UsesMlsd());
        m_pServer->ClearLog();
        ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub"));
        EXPECT_EQ(Names(*pConnection), (std::vector<std::string>{"a.txt", "loop", "sub dir/"}));
        ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub/sub dir"));
        CFtpFileFind find(pConnection.get());
        ASSERT_TRUE(find.FindFile());
        EXPECT_FALSE(find.FindNextFile());
        EXPECT_EQ(find.GetFileName(), "b c.bin");
        EXPECT_EQ(find.GetLength(), 5u);
        EXPECT_EQ(m_pServer->CountCommands("MLSD"), 0);
    }
}

TEST_F(FtpConnectionTest, CloseFromAnotherThreadEndsBlockedCallAtOnce)
{
    auto pSession = MakeSession(30000); // the server would be waited on for 30 s
    auto pConnection = Connect(*pSession);
    ASSERT_TRUE(pConnection->SetCurrentDirectory("/__silent_on_list__"));
    std::chrono::steady_clock::time_point closedAt;
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        closedAt = std::chrono::steady_clock::now();
        pSession->Close();
    });
    CFtpFileFind find(pConnection.get());
    EXPECT_FALSE(find.FindFile());
    auto returnedAt = std::chrono::steady_clock::now();
    closer.join();
    EXPECT_TRUE(IsConnectionLost(GetLastInternetError()));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - closedAt).count(), 100);
    // Later calls fail at once, and clean-up does not wait for the server.
    EXPECT_FALSE(pConnection->SetCurrentDirectory("/pub"));
    auto start = std::chrono::steady_clock::now();
    pConnection.reset();
    pSession.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(FtpConnectionTest, ClosedSessionRefusesNewConnections)
{
    auto pSession = MakeSession();
    pSession->Close();
    EXPECT_THROW(Connect(*pSession), CInternetException);
    EXPECT_FALSE(pSession->SetOption(99, 1));
}

TEST_F(FtpConnectionTest, SessionsNeverShareAConnection)
{
    m_pServer->ClearLog();
    auto pSessionA = MakeSession();
    auto pSessionB = MakeSession();
    auto pA = Connect(*pSessionA);
    auto pB = Connect(*pSessionB);
    ASSERT_TRUE(pA->SetCurrentDirectory("/pub"));
    ASSERT_TRUE(pB->SetCurrentDirectory("/pub"));
    EXPECT_EQ(m_pServer->CountSessions(), 2);
    EXPECT_EQ(m_pServer->GetMaxSimultaneousSessions(), 2);
}

TEST_F(FtpConnectionTest, ALineThatDiesBetweenCommandsIsALostConnectionNotASecondLogin)
{
    // The server confirms the CWD, then resets the line. libcurl may find the
    // reused connection dead on its next command and log in again on its own;
    // one session keeps one login, so the listing must fail as a lost
    // connection instead of quietly succeeding on a new one.
    m_pServer->SetFaults(R"({"rules": [{"on": "CWD", "path": "/pub", "action": "reply_reset", "times": 1}]})");
    auto pSession = MakeSession();
    auto pConnection = Connect(*pSession);
    ASSERT_TRUE(pConnection);
    ASSERT_TRUE(pConnection->SetCurrentDirectory("/pub"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the reset has arrived
    std::vector<CFtpListEntry> entries;
    EXPECT_FALSE(pConnection->ListCurrentDirectory(entries));
    EXPECT_TRUE(IsConnectionLost(GetLastInternetError())) << GetLastInternetError();
    EXPECT_TRUE(entries.empty());
    // And the connection stays dead afterwards.
    EXPECT_FALSE(pConnection->SetCurrentDirectory("/"));
    EXPECT_TRUE(IsConnectionLost(GetLastInternetError()));
}

// Names in GBK, as an old server on a Chinese system keeps them: the
// connection asks for UTF-8 only when the server offers it and the site
// wants it, and changes into such a folder with exactly the listed bytes.
TEST_F(FtpConnectionTest, Utf8IsAskedForOnceAndOtherBytesPassUnchanged)
{
    const std::string strFolder = "\xd6\xd0\xce\xc4";   // 中文 in GBK
    const std::string strFile = "\x99\x6e\xb0\xb8.txt"; // 檔案.txt, "n" a second byte
    MakeDir(m_root.Path() + "/" + strFolder);
    MakeFile(m_root.Path() + "/" + strFolder + "/" + strFile, 2);
    struct CRow
    {
        bool bServerOffers;
        bool bWanted;
        int nOpts;
    } rows[] = {{true, true, 1}, {true, false, 0}, {false, true, 0}};
    for (const CRow& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.bServerOffers) + std::to_string(row.bWanted));
        m_pServer->SetFaults(row.bServerOffers ? "" : R"({"no_utf8": true})");
        m_pServer->ClearLog();
        auto pSession = MakeSession();
        ASSERT_TRUE(pSession->SetOption(INTERNET_OPTION_FTP_UTF8, row.bWanted ? 1 : 0));
        auto pConnection = Connect(*pSession);
        EXPECT_EQ(pConnection->OffersUtf8(), row.bServerOffers);
        ASSERT_TRUE(pConnection->SetCurrentDirectory("/" + strFolder));
        EXPECT_EQ(Names(*pConnection), std::vector<std::string>{strFile});
        ASSERT_TRUE(pConnection->SetCurrentDirectory("/"));
        EXPECT_FALSE(Names(*pConnection).empty());

        std::vector<CTestFtpServer::CCommand> opts = m_pServer->GetCommands("OPTS");
        ASSERT_EQ(static_cast<int>(opts.size()), row.nOpts);
        if (row.nOpts > 0)
        {
            EXPECT_EQ(opts[0].strArgument, "UTF8 ON");
        }
        std::vector<CTestFtpServer::CCommand> cwds = m_pServer->GetCommands("CWD");
        ASSERT_FALSE(cwds.empty());
        EXPECT_EQ(cwds[0].strArgument, "/" + strFolder);
    }
}
