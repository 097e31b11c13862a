// The window's socket seen from tarn-cli's side: a killed window's socket is
// taken away by the next writer, only the owning user may connect, a window
// that holds the folder but does not answer is reported at once; and the
// systemd units of "schedule install" (checked by systemd-analyze where it
// is there), "status" and "remove".

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/CliFixture.h"
#include "model/ControlSocket.h"
#include "model/DataFolderLock.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
// A stand-in for the window: a child that holds the folder's lock and
// listens on its socket until it is killed.
pid_t StartHolder(const std::string& strFolder)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    pid_t nPid = ::fork();
    if (nPid == 0)
    {
        CDataFolderLock lock;
        lock.SetHolderName(CDataFolderLock::HOLDER_WINDOW);
        std::string strError;
        if (lock.Acquire(strFolder, 0ms, &strError) != CDataFolderLock::Result::taken ||
            ListenControlSocket(strFolder, &strError) < 0)
            ::_exit(1);
        (void)!::write(fds[1], "r", 1);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    char c = 0;
    (void)!::read(fds[0], &c, 1);
    ::close(fds[0]);
    return c == 'r' ? nPid : -1;
}

class CEnv
{
public:
    CEnv(const char* pszName, const std::string& strValue) : m_strName(pszName)
    {
        if (const char* pszOld = std::getenv(pszName))
            m_old = pszOld;
        setenv(pszName, strValue.c_str(), 1);
    }
    ~CEnv()
    {
        if (m_old)
            setenv(m_strName.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName;
    std::optional<std::string> m_old;
};

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
} // namespace

TEST_F(CliTest, AKilledWindowsSocketIsTakenAwayByTheNextWriter)
{
    pid_t nPid = StartHolder(m_data.Path());
    ASSERT_GT(nPid, 0);
    std::string strSocket = GetControlSocketPath(m_data.Path());
    ASSERT_TRUE(fs::exists(strSocket));
    ::kill(nPid, SIGKILL);
    ::waitpid(nPid, nullptr, 0);
    // The file stays, nobody answers on it.
    int fd = -1;
    std::string strError;
    EXPECT_EQ(ConnectControlSocket(m_data.Path(), &fd, &strError), ControlConnect::stale);

    CCliResult r = Cli({"update"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_FALSE(fs::exists(strSocket));
}

TEST_F(CliTest, AWindowThatDoesNotAnswerIsReportedAtOnce)
{
    // The lock held as the window, no socket at all.
    CDataFolderLock lock;
    lock.SetHolderName(CDataFolderLock::HOLDER_WINDOW);
    std::string strError;
    ASSERT_EQ(lock.Acquire(m_data.Path(), 0ms, &strError), CDataFolderLock::Result::taken);
    struct CRow
    {
        std::vector<std::string> args;
        const char* pszErr;
    };
    const CRow rows[] = {
        {{"update"}, "does not answer on"},
        {{"add", "--host", "example.org"}, "is open in the Tarn window; make this change there"},
        {{"remove", "example.org"}, "is open in the Tarn window; make this change there"},
    };
    for (const CRow& row : rows)
    {
        SCOPED_TRACE(row.args[0]);
        CCliResult r = Cli(row.args);
        EXPECT_EQ(r.nExit, 1);
        EXPECT_NE(r.strErr.find(row.pszErr), std::string::npos) << r.strErr;
    }
}

TEST(ControlSocketTest, OnlyTheOwningUserMayConnect)
{
    CTempDir dir;
    // Anybody may enter the folder: the socket's own mode keeps others out.
    ::chmod(dir.Path().c_str(), 0755);
    std::string strError;
    int fdListen = ListenControlSocket(dir.Path(), &strError);
    ASSERT_GE(fdListen, 0) << strError;
    struct stat info
    {
    };
    ASSERT_EQ(::stat(GetControlSocketPath(dir.Path()).c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // No private folder is left behind.
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename(), CONTROL_SOCKET_NAME);

    int fd = -1;
    ASSERT_EQ(ConnectControlSocket(dir.Path(), &fd, &strError), ControlConnect::connected);
    CControlChannel client(fd);
    int fdServer = ::accept(fdListen, nullptr, nullptr);
    ASSERT_GE(fdServer, 0);
    EXPECT_TRUE(IsPeerSameUser(fdServer));
    CControlChannel server(fdServer);
    // Lines both ways, a line split over two writes read as one.
    ASSERT_TRUE(client.WriteLine("{\"a\":1}"));
    std::string strLine;
    EXPECT_EQ(server.ReadLine(&strLine, 2000ms), CControlChannel::ReadResult::line);
    EXPECT_EQ(strLine, "{\"a\":1}");
    EXPECT_EQ(server.ReadLine(&strLine, 0ms), CControlChannel::ReadResult::timeout);
    ASSERT_EQ(::send(fd, "par", 3, 0), 3);
    EXPECT_EQ(server.ReadLine(&strLine, 50ms), CControlChannel::ReadResult::timeout);
    ASSERT_TRUE(client.WriteLine("t"));
    EXPECT_EQ(server.ReadLine(&strLine, 2000ms), CControlChannel::ReadResult::line);
    EXPECT_EQ(strLine, "part");

    if (::geteuid() != 0)
        GTEST_SKIP() << "another user can be tried only as root";
    // Another user is refused by the file's mode.
    pid_t nPid = ::fork();
    if (nPid == 0)
    {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        int fdOther = -1;
        std::string strWhy;
        ::_exit(ConnectControlSocket(dir.Path(), &fdOther, &strWhy) == ControlConnect::denied ? 0
                                                                                              : 1);
    }
    int nStatus = 0;
    ::waitpid(nPid, &nStatus, 0);
    EXPECT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0);
    ::close(fdListen);
}

TEST_F(CliTest, ScheduleInstallWritesUnitsThatSystemdAccepts)
{
    CTempDir config;
    CTempDir runtime; // no user systemd here: the commands are printed
    CEnv configHome("XDG_CONFIG_HOME", config.Path());
    CEnv runtimeDir("XDG_RUNTIME_DIR", runtime.Path());
    fs::path units = fs::path(config.Path()) / "systemd/user";

    CCliResult r = Cli({"schedule", "status"});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_NE(r.strOut.find("no schedule installed"), std::string::npos);

    struct CRow
    {
        std::vector<std::string> args;
        const char* pszCalendar;
    };
    const CRow rows[] = {
        {{"schedule", "install"}, "OnCalendar=*-*-* 00/6:00:00"},
        {{"schedule", "install", "--every", "12h"}, "OnCalendar=*-*-* 00/12:00:00"},
        {{"schedule", "install", "--daily", "03:30"}, "OnCalendar=*-*-* 03:30:00"},
    };
    for (const CRow& row : rows)
    {
        SCOPED_TRACE(row.pszCalendar);
        r = Cli(row.args);
        ASSERT_EQ(r.nExit, 0) << r.strErr;
        EXPECT_NE(r.strOut.find("systemctl --user enable --now tarn-update.timer"),
                  std::string::npos);
        std::string strTimer = ReadText(units / "tarn-update.timer");
        for (const char* pszLine : {row.pszCalendar, "Persistent=true", "RandomizedDelaySec=10min"})
            EXPECT_NE(strTimer.find(std::string(pszLine) + "\n"), std::string::npos) << pszLine;
        std::string strService = ReadText(units / "tarn-update.service");
        EXPECT_NE(strService.find("\"--data-dir\" \"" + m_data.Path() + "\" \"update\""),
                  std::string::npos)
            << strService;
    }
    r = Cli({"schedule", "status"});
    EXPECT_NE(r.strOut.find("OnCalendar=*-*-* 03:30:00"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("data folder: " + m_data.Path()), std::string::npos) << r.strOut;

    if (std::system("command -v systemd-analyze >/dev/null 2>&1") == 0)
    {
        std::string strCommand = "systemd-analyze --user --man=no verify '" +
                                 (units / "tarn-update.timer").string() + "' '" +
                                 (units / "tarn-update.service").string() + "' 2>&1";
        FILE* pPipe = ::popen(strCommand.c_str(), "r");
        ASSERT_NE(pPipe, nullptr);
        std::string strOut;
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof(buffer), pPipe))
            strOut.append(buffer, n);
        int nStatus = ::pclose(pPipe);
        EXPECT_EQ(WEXITSTATUS(nStatus), 0) << strOut;
    }

    r = Cli({"schedule", "remove"});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_FALSE(fs::exists(units / "tarn-update.timer"));
    EXPECT_FALSE(fs::exists(units / "tarn-update.service"));

    // Usage mistakes.
    for (std::vector<std::string> args :
         {std::vector<std::string>{"schedule", "install", "--every", "5h"},
          {"schedule", "install", "--daily", "24:00"},
          {"schedule", "install", "--every", "6h", "--daily", "03:00"},
          {"schedule", "status", "--every", "6h"},
          {"schedule", "start"}})
        EXPECT_EQ(Cli(args).nExit, 2) << args.back();
}
