// The control connection we speak on ourselves: libcurl's login, pipelined
// commands, replies in order, and every way the line can fail.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "net/FtpConnection.h"
#include "net/FtpControlChannel.h"
#include "net/InternetError.h"
#include "net/InternetSession.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace
{
class FtpControlChannelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_root / "pub/sub dir");
        std::ofstream(m_root / "pub/a.txt") << "abc";
        m_pServer = std::make_unique<CTestFtpServer>(m_root.Path());
        m_pSession = std::make_unique<CInternetSession>("my");
        (void)m_pSession->SetOption(INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT, 1000);
        m_pConnection = m_pSession->GetFtpConnection(
            "127.0.0.1", m_pServer->GetUser(), m_pServer->GetPassword(), m_pServer->GetPort());
    }

    std::unique_ptr<CFtpControlChannel> Open()
    {
        std::unique_ptr<CFtpControlChannel> pChannel = m_pConnection->OpenControlChannel();
        EXPECT_TRUE(pChannel) << FormatInternetError(GetLastInternetError());
        return pChannel;
    }

    CTempDir m_root;
    std::unique_ptr<CTestFtpServer> m_pServer;
    std::unique_ptr<CInternetSession> m_pSession;
    std::unique_ptr<CFtpConnection> m_pConnection;
};
} // namespace

TEST_F(FtpControlChannelTest, PipelinedCommandsGetTheirRepliesInOrder)
{
    auto pChannel = Open();
    ASSERT_TRUE(pChannel);
    EXPECT_TRUE(pChannel->HasFeature("UTF8"));
    EXPECT_TRUE(pChannel->HasFeature("mlst"));
    EXPECT_FALSE(pChannel->HasFeature("MLS"));
    // A command with a line break would smuggle in one of its own.
    EXPECT_FALSE(pChannel->Send("CWD /pub\r\nDELE a.txt"));
    EXPECT_EQ(GetLastInternetError(), ERROR_INTERNET_INVALID_URL);

    for (const char* psz :
         {"CWD /pub", "STAT .", "CWD /nowhere", "STAT .", "CWD /pub/sub dir", "STAT ."})
        ASSERT_TRUE(pChannel->Send(psz));
    struct CExpected
    {
        int nCode;
        const char* pszInBody;
    };
    const CExpected expected[] = {{250, ""},      {213, "a.txt"}, {550, ""},
                                  {213, "a.txt"}, {250, ""},      {213, ""}};
    for (const CExpected& e : expected)
    {
        CFtpReply reply;
        ASSERT_TRUE(pChannel->ReadReply(reply)) << GetLastInternetError();
        EXPECT_EQ(reply.nCode, e.nCode) << reply.strText;
        EXPECT_NE(reply.strBody.find(e.pszInBody), std::string::npos) << reply.strBody;
        if (e.nCode == 213)
        {
            EXPECT_TRUE(reply.bMultiline);
        }
    }
    EXPECT_EQ(pChannel->GetBufferedReplies(), 0u);
    // libcurl's login (USER, PASS, PWD), our FEAT, then the six.
    EXPECT_EQ(pChannel->GetStats().nCommands, 10u);
    // The same login on a connection of its own.
    std::vector<CTestFtpServer::CCommand> users = m_pServer->GetCommands("USER");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[1].strArgument, m_pServer->GetUser());
}

TEST_F(FtpControlChannelTest, AFailureEndsTheChannelForGood)
{
    std::atomic<int32_t> stop{0};
    struct CCase
    {
        const char* pszName;
        const char* pszFaults;
        uint32_t nError;
    };
    const CCase cases[] = {
        {"a line that is no reply",
         R"({"rules": [{"on": "CWD", "path": "/pub", "action": "reply",
             "reply": "250 OK.\r\nthis is no reply"}]})",
         ERROR_FTP_DROPPED},
        {"the server hangs up", R"({"rules": [{"on": "CWD", "path": "/pub", "action": "drop"}]})",
         ERROR_FTP_DROPPED},
        {"421", R"({"rules": [{"on": "CWD", "path": "/pub", "action": "reply",
             "reply": "421 Timeout."}]})",
         ERROR_FTP_DROPPED},
        {"silence", R"({"rules": [{"on": "CWD", "path": "/pub", "action": "silent"}]})",
         ERROR_INTERNET_TIMEOUT},
        {"stop", R"({"rules": [{"on": "CWD", "path": "/pub", "action": "silent"}]})",
         ERROR_INTERNET_OPERATION_CANCELLED},
        {"session closed", R"({"rules": [{"on": "CWD", "path": "/pub", "action": "silent"}]})",
         ERROR_INTERNET_CONNECTION_ABORTED},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        m_pServer->SetFaults(c.pszFaults);
        auto pChannel = Open();
        ASSERT_TRUE(pChannel);
        pChannel->SetStopFlag(&stop);
        std::thread other;
        std::string strCase = c.pszName;
        if (strCase == "stop" || strCase == "session closed")
            other = std::thread(
                [&]
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    if (strCase == "stop")
                        stop = 1;
                    else
                        m_pSession->Close();
                });
        ASSERT_TRUE(pChannel->Send("CWD /pub"));
        auto start = std::chrono::steady_clock::now();
        CFtpReply reply;
        bool bRead = pChannel->ReadReply(reply);
        auto elapsed = std::chrono::steady_clock::now() - start;
        if (other.joinable())
            other.join();
        // The first line of an out-of-turn reply may still come as a reply.
        if (bRead && reply.nCode == 250)
            bRead = pChannel->ReadReply(reply);
        EXPECT_FALSE(bRead);
        EXPECT_EQ(GetLastInternetError(), c.nError);
        EXPECT_EQ(pChannel->HasSpokenOutOfTurn(), strCase == "a line that is no reply");
        // Silence waits out the receive time-out; nothing else waits long.
        EXPECT_LT(elapsed, std::chrono::milliseconds(strCase == "silence" ? 1600 : 600));
        EXPECT_FALSE(pChannel->Send("STAT ."));
        EXPECT_EQ(GetLastInternetError(), c.nError);
        stop = 0;
    }
}
