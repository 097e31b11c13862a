// schedule: updates while no window is open, by a systemd user timer that
// runs "tarn-cli --data-dir DIR update". The units are written here; the
// user's systemd is asked to enable them only when it can be reached, else
// the commands to run are printed.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "doc/TarnDoc.h"

extern char** environ;

namespace
{
namespace fs = std::filesystem;

constexpr const char* UNIT_NAME = "tarn-update";
constexpr uint32_t DEFAULT_EVERY_HOURS = 6;

fs::path GetUnitFolder()
{
    if (const char* pszConfig = std::getenv("XDG_CONFIG_HOME"); pszConfig && *pszConfig == '/')
        return fs::path(pszConfig) / "systemd/user";
    const char* pszHome = std::getenv("HOME");
    return fs::path(pszHome != nullptr ? pszHome : "/") / ".config/systemd/user";
}

fs::path ServicePath()
{
    return GetUnitFolder() / (std::string(UNIT_NAME) + ".service");
}

fs::path TimerPath()
{
    return GetUnitFolder() / (std::string(UNIT_NAME) + ".timer");
}

// The user's systemd listens on $XDG_RUNTIME_DIR/systemd/private.
bool IsUserSystemdReachable()
{
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime == nullptr || *pszRuntime == '\0')
        return false;
    struct stat info
    {
    };
    std::string strSocket = std::string(pszRuntime) + "/systemd/private";
    return ::stat(strSocket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// One word of an ExecStart= line: quoted, with what systemd would expand
// (specifiers, variables) and the quoting characters escaped.
std::string UnitWord(const std::string& strWord)
{
    std::string strQuoted = "\"";
    for (char c : strWord)
    {
        if (c == '\\' || c == '"')
            strQuoted += '\\';
        if (c == '%')
            strQuoted += '%';
        if (c == '$')
            strQuoted += '$';
        strQuoted += c;
    }
    return strQuoted + "\"";
}

// Words of an ExecStart= line back (what UnitWord wrote).
std::vector<std::string> UnitWords(const std::string& strLine)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < strLine.size())
    {
        if (strLine[i] != '"')
        {
            ++i;
            continue;
        }
        std::string strWord;
        for (++i; i < strLine.size() && strLine[i] != '"'; ++i)
        {
            if (strLine[i] == '\\' && i + 1 < strLine.size())
                ++i;
            else if ((strLine[i] == '%' || strLine[i] == '$') && i + 1 < strLine.size() &&
                     strLine[i + 1] == strLine[i])
                ++i;
            strWord += strLine[i];
        }
        ++i;
        words.push_back(strWord);
    }
    return words;
}

std::string ProgramPath()
{
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string("tarn-cli") : path.string();
}

std::string CalendarOf(const CCommandLine& line, std::string* pstrShown)
{
    if (line.m_strDaily)
    {
        *pstrShown = "daily at " + *line.m_strDaily;
        return "*-*-* " + *line.m_strDaily + ":00";
    }
    uint32_t nHours = line.m_nEveryHours.value_or(DEFAULT_EVERY_HOURS);
    *pstrShown = "every " + std::to_string(nHours) + "h";
    return "*-*-* 00/" + std::to_string(nHours) + ":00:00";
}

// Replaces a file whole (a temporary file beside it, then a rename).
bool WriteWhole(const fs::path& path, const std::string& strText, std::string* pstrError)
{
    fs::path temp = path;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << strText;
        out.flush();
        if (!out)
        {
            *pstrError = "cannot write " + temp.string();
            return false;
        }
    }
    std::error_code error;
    fs::rename(temp, path, error);
    if (error)
    {
        fs::remove(temp, error);
        *pstrError = "cannot write " + path.string();
        return false;
    }
    return true;
}

// Runs a program with its output captured; its exit status (-1: did not run).
int RunProgram(const std::vector<std::string>& args, std::string* pstrOut)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& str : args)
        argv.push_back(const_cast<char*>(str.c_str()));
    argv.push_back(nullptr);
    pid_t nPid = -1;
    int nSpawn = ::posix_spawnp(&nPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (nSpawn != 0)
    {
        ::close(fds[0]);
        return -1;
    }
    char buffer[4096];
    ssize_t nRead;
    while ((nRead = ::read(fds[0], buffer, sizeof(buffer))) > 0 || (nRead < 0 && errno == EINTR))
    {
        if (nRead > 0 && pstrOut != nullptr)
            pstrOut->append(buffer, size_t(nRead));
    }
    ::close(fds[0]);
    int nStatus = 0;
    while (::waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR)
    {
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

std::string ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value of "Key=" in a unit's text ("" none).
std::string UnitValue(const std::string& strText, const std::string& strKey)
{
    size_t nPos = 0;
    while (nPos < strText.size())
    {
        size_t nEnd = strText.find('\n', nPos);
        std::string strLine = strText.substr(nPos, nEnd - nPos);
        if (strLine.rfind(strKey + "=", 0) == 0)
            return strLine.substr(strKey.size() + 1);
        if (nEnd == std::string::npos)
            break;
        nPos = nEnd + 1;
    }
    return {};
}

int Install(CCliContext& ctx)
{
    std::string strFolder = fs::absolute(ctx.doc.GetProgramFolder()).lexically_normal().string();
    while (strFolder.size() > 1 && strFolder.back() == '/')
        strFolder.pop_back();
    std::string strShown;
    std::string strCalendar = CalendarOf(ctx.line, &strShown);
    std::string strService =
        "# Written by tarn-cli schedule install; tarn-cli schedule remove takes it away.\n"
        "[Unit]\n"
        "Description=Tarn: update the cached FTP sites of " +
        strFolder +
        "\n"
        "\n"
        "[Service]\n"
        "Type=oneshot\n"
        "ExecStart=" +
        UnitWord(ProgramPath()) + " " + UnitWord("--data-dir") + " " + UnitWord(strFolder) + " " +
        UnitWord("update") +
        "\n"
        "Nice=10\n";
    std::string strTimer = "# Written by tarn-cli schedule install (" + strShown +
                           ").\n"
                           "[Unit]\n"
                           "Description=Tarn: scheduled update of " +
                           strFolder +
                           "\n"
                           "\n"
                           "[Timer]\n"
                           "OnCalendar=" +
                           strCalendar +
                           "\n"
                           "Persistent=true\n"
                           "RandomizedDelaySec=10min\n"
                           "\n"
                           "[Install]\n"
                           "WantedBy=timers.target\n";
    std::error_code error;
    fs::create_directories(GetUnitFolder(), error);
    std::string strError;
    if (!WriteWhole(ServicePath(), strService, &strError) ||
        !WriteWhole(TimerPath(), strTimer, &strError))
    {
        ReportError(strError);
        return EXIT_FAILED;
    }
    std::string strTimerUnit = std::string(UNIT_NAME) + ".timer";
    std::printf("wrote %s\nwrote %s\n", ServicePath().c_str(), TimerPath().c_str());
    if (!IsUserSystemdReachable())
    {
        std::printf("the user's systemd cannot be reached from here; to enable the timer, run:\n"
                    "  systemctl --user daemon-reload\n"
                    "  systemctl --user enable --now %s\n",
                    strTimerUnit.c_str());
        return EXIT_OK;
    }
    std::string strOut;
    if (RunProgram({"systemctl", "--user", "daemon-reload"}, &strOut) != 0 ||
        RunProgram({"systemctl", "--user", "enable", "--now", strTimerUnit}, &strOut) != 0)
    {
        ReportError("systemctl could not enable " + strTimerUnit + ": " + strOut);
        return EXIT_FAILED;
    }
    std::printf("enabled %s: %s\n", strTimerUnit.c_str(), strShown.c_str());
    return EXIT_OK;
}

int Remove()
{
    std::string strTimerUnit = std::string(UNIT_NAME) + ".timer";
    if (IsUserSystemdReachable() && fs::exists(TimerPath()))
        (void)RunProgram({"systemctl", "--user", "disable", "--now", strTimerUnit}, nullptr);
    std::error_code error;
    bool bRemoved = fs::remove(TimerPath(), error);
    bRemoved = fs::remove(ServicePath(), error) || bRemoved;
    if (IsUserSystemdReachable())
        (void)RunProgram({"systemctl", "--user", "daemon-reload"}, nullptr);
    std::printf(bRemoved ? "removed the schedule\n" : "no schedule was installed\n");
    return EXIT_OK;
}

int Status(CCliContext& ctx)
{
    bool bInstalled = fs::exists(TimerPath()) && fs::exists(ServicePath());
    std::string strCalendar;
    std::string strFolder;
    if (bInstalled)
    {
        strCalendar = UnitValue(ReadWhole(TimerPath()), "OnCalendar");
        std::vector<std::string> words =
            UnitWords(UnitValue(ReadWhole(ServicePath()), "ExecStart"));
        for (size_t i = 0; i + 1 < words.size(); ++i)
            if (words[i] == "--data-dir")
                strFolder = words[i + 1];
    }
    // What systemd knows: the next and the last run, the last outcome.
    std::string strNext, strLast, strResult, strExit;
    bool bAsked = bInstalled && IsUserSystemdReachable();
    if (bAsked)
    {
        std::string strTimerUnit = std::string(UNIT_NAME) + ".timer";
        std::string strServiceUnit = std::string(UNIT_NAME) + ".service";
        std::string strOut;
        (void)RunProgram({"systemctl", "--user", "show", strTimerUnit,
                          "--property=NextElapseUSecRealtime", "--property=LastTriggerUSec"},
                         &strOut);
        strNext = UnitValue(strOut, "NextElapseUSecRealtime");
        strLast = UnitValue(strOut, "LastTriggerUSec");
        strOut.clear();
        (void)RunProgram({"systemctl", "--user", "show", strServiceUnit, "--property=Result",
                          "--property=ExecMainStatus"},
                         &strOut);
        strResult = UnitValue(strOut, "Result");
        strExit = UnitValue(strOut, "ExecMainStatus");
    }
    if (ctx.line.m_bJson)
    {
        CJsonLine line;
        line.Add("installed", bInstalled);
        if (bInstalled)
        {
            line.Add("calendar", strCalendar).Add("data_dir", strFolder);
            line.Add("service", ServicePath().string()).Add("timer", TimerPath().string());
        }
        if (bAsked)
            line.Add("next", strNext)
                .Add("last", strLast)
                .Add("result", strResult)
                .Add("exit", strExit);
        std::fputs(line.Finish().c_str(), stdout);
        return EXIT_OK;
    }
    if (!bInstalled)
    {
        std::printf("no schedule installed (tarn-cli schedule install)\n");
        return EXIT_OK;
    }
    std::printf("schedule:    OnCalendar=%s\ndata folder: %s\ntimer:       %s\n",
                strCalendar.c_str(), strFolder.c_str(), TimerPath().c_str());
    if (!bAsked)
    {
        std::printf("next and last run: unknown (the user's systemd cannot be reached)\n");
        return EXIT_OK;
    }
    std::printf("next run:    %s\nlast run:    %s\n", strNext.empty() ? "-" : strNext.c_str(),
                strLast.empty() || strLast == "n/a" ? "never" : strLast.c_str());
    if (!strLast.empty() && strLast != "n/a")
        std::printf("outcome:     %s (exit status %s)\n", strResult.c_str(), strExit.c_str());
    return EXIT_OK;
}
} // namespace

int RunSchedule(CCliContext& ctx)
{
    const std::string& strAction = ctx.line.m_args[0];
    if (strAction == "install")
        return Install(ctx);
    if (strAction == "remove")
        return Remove();
    return Status(ctx);
}
