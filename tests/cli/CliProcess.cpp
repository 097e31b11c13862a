#include "cli/CliProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

std::vector<std::string> CCliResult::Lines() const
{
    std::vector<std::string> lines;
    size_t nPos = 0;
    while (nPos < strOut.size())
    {
        size_t nEnd = strOut.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strOut.size();
        lines.push_back(strOut.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
    }
    return lines;
}

CCliProcess::CCliProcess(const std::vector<std::string>& args, const std::string& strStdin)
{
    int out[2], err[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> argv{TARN_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> ptrs;
    for (std::string& str : argv)
        ptrs.push_back(str.data());
    ptrs.push_back(nullptr);
    // The child gets default signal handling, whatever the test runner set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (::posix_spawn(&m_nPid, TARN_CLI_PATH, &actions, &attr, ptrs.data(), environ) != 0)
        m_nPid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    ::close(in[0]);
    if (!strStdin.empty())
    {
        ssize_t n = ::write(in[1], strStdin.data(), strStdin.size());
        (void)n;
    }
    ::close(in[1]);
    m_fdOut = out[0];
    m_fdErr = err[0];
}

CCliProcess::~CCliProcess()
{
    if (m_nPid > 0 && !m_bReaped)
    {
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, nullptr, 0);
    }
    if (m_fdOut >= 0)
        ::close(m_fdOut);
    if (m_fdErr >= 0)
        ::close(m_fdErr);
}

void CCliProcess::Drain(int nTimeoutMs)
{
    pollfd fds[2] = {{m_fdOut, POLLIN, 0}, {m_fdErr, POLLIN, 0}};
    if (::poll(fds, 2, nTimeoutMs) <= 0)
        return;
    std::string* targets[2] = {&m_result.strOut, &m_result.strErr};
    int* fdsOwned[2] = {&m_fdOut, &m_fdErr};
    for (int i = 0; i < 2; ++i)
    {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0)
            targets[i]->append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
        {
            ::close(*fdsOwned[i]);
            *fdsOwned[i] = -1;
        }
    }
}

bool CCliProcess::IsRunning()
{
    if (m_bReaped || m_nPid <= 0)
        return false;
    Drain(0);
    int nStatus = 0;
    pid_t r = ::waitpid(m_nPid, &nStatus, WNOHANG);
    if (r == m_nPid)
    {
        m_bReaped = true;
        m_result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        return false;
    }
    return true;
}

void CCliProcess::Signal(int nSignal)
{
    if (m_nPid > 0 && !m_bReaped)
        ::kill(m_nPid, nSignal);
}

std::string CCliProcess::PeekOut()
{
    Drain(0);
    return m_result.strOut;
}

CCliResult CCliProcess::Wait(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_fdOut >= 0 || m_fdErr >= 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            Signal(SIGKILL);
            break;
        }
        Drain(50);
    }
    if (!m_bReaped && m_nPid > 0)
    {
        int nStatus = 0;
        ::waitpid(m_nPid, &nStatus, 0);
        m_bReaped = true;
        m_result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
    return m_result;
}

CCliResult RunCli(const std::vector<std::string>& args, const std::string& strStdin)
{
    CCliProcess process(args, strStdin);
    return process.Wait();
}

namespace
{
class CJsonParser
{
public:
    explicit CJsonParser(const std::string& str) : m_str(str) {}

    bool Object(CJsonObject* pObject)
    {
        if (!Eat('{'))
            return false;
        if (Eat('}'))
            return AtEnd();
        for (;;)
        {
            std::string strKey;
            if (!String(&strKey) || !Eat(':'))
                return false;
            char nType = 0;
            std::string strValue;
            if (Peek() == '"')
            {
                nType = 's';
                if (!String(&strValue))
                    return false;
            }
            else if (m_str.compare(m_nPos, 4, "true") == 0 ||
                     m_str.compare(m_nPos, 5, "false") == 0)
            {
                nType = 'b';
                strValue = m_str[m_nPos] == 't' ? "true" : "false";
                m_nPos += strValue.size();
            }
            else if (Eat('['))
            {
                // An array of strings: its items joined by line feeds.
                nType = 'a';
                while (!Eat(']'))
                {
                    if (nType == 'A' && !Eat(','))
                        return false;
                    std::string strItem;
                    if (!String(&strItem))
                        return false;
                    strValue += (nType == 'A' ? "\n" : "") + strItem;
                    nType = 'A';
                }
                nType = 'a';
            }
            else if (m_str.compare(m_nPos, 4, "null") == 0)
            {
                nType = '0';
                strValue = "null";
                m_nPos += strValue.size();
            }
            else
            {
                nType = 'n';
                size_t nStart = m_nPos;
                if (Peek() == '-')
                    ++m_nPos;
                if (!Digits())
                    return false;
                if (Eat('.') && !Digits())
                    return false;
                strValue = m_str.substr(nStart, m_nPos - nStart);
            }
            if (pObject->m_values.count(strKey) != 0)
                return false;
            pObject->m_keys.push_back(strKey);
            pObject->m_values[strKey] = strValue;
            pObject->m_types[strKey] = nType;
            if (Eat('}'))
                return AtEnd();
            if (!Eat(','))
                return false;
        }
    }

private:
    char Peek() const { return m_nPos < m_str.size() ? m_str[m_nPos] : '\0'; }
    // One or more; a fraction's digits follow a ".".
    bool Digits()
    {
        size_t nStart = m_nPos;
        while (m_nPos < m_str.size() && m_str[m_nPos] >= '0' && m_str[m_nPos] <= '9')
            ++m_nPos;
        return m_nPos > nStart;
    }
    bool Eat(char c)
    {
        if (Peek() != c)
            return false;
        ++m_nPos;
        return true;
    }
    bool AtEnd() const { return m_nPos == m_str.size(); }

    static void AppendUtf8(std::string* pstr, uint32_t ch)
    {
        if (ch < 0x80)
            *pstr += static_cast<char>(ch);
        else if (ch < 0x800)
        {
            *pstr += static_cast<char>(0xC0 | (ch >> 6));
            *pstr += static_cast<char>(0x80 | (ch & 0x3F));
        }
        else if (ch < 0x10000)
        {
            *pstr += static_cast<char>(0xE0 | (ch >> 12));
            *pstr += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            *pstr += static_cast<char>(0x80 | (ch & 0x3F));
        }
        else
        {
            *pstr += static_cast<char>(0xF0 | (ch >> 18));
            *pstr += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
            *pstr += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            *pstr += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }

    bool Hex4(uint32_t* pn)
    {
        if (m_nPos + 4 > m_str.size())
            return false;
        *pn = 0;
        for (int i = 0; i < 4; ++i)
        {
            char c = m_str[m_nPos++];
            int v = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (v < 0)
                return false;
            *pn = *pn * 16 + static_cast<uint32_t>(v);
        }
        return true;
    }

    bool String(std::string* pstr)
    {
        if (!Eat('"'))
            return false;
        while (m_nPos < m_str.size())
        {
            unsigned char c = static_cast<unsigned char>(m_str[m_nPos++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\')
            {
                *pstr += static_cast<char>(c);
                continue;
            }
            char e = Peek();
            ++m_nPos;
            switch (e)
            {
            case '"':
                *pstr += '"';
                break;
            case '\\':
                *pstr += '\\';
                break;
            case '/':
                *pstr += '/';
                break;
            case 'b':
                *pstr += '\b';
                break;
            case 'f':
                *pstr += '\f';
                break;
            case 'n':
                *pstr += '\n';
                break;
            case 'r':
                *pstr += '\r';
                break;
            case 't':
                *pstr += '\t';
                break;
            case 'u':
            {
                uint32_t ch = 0;
                if (!Hex4(&ch) || (ch >= 0xD800 && ch <= 0xDFFF))
                    return false; // tarn-cli never escapes beyond control characters
                AppendUtf8(pstr, ch);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    const std::string& m_str;
    size_t m_nPos = 0;
};

bool IsValidUtf8(const std::string& str)
{
    size_t i = 0;
    while (i < str.size())
    {
        unsigned char c = static_cast<unsigned char>(str[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > str.size() || (n == 2 && c < 0xC2) || c > 0xF4)
            return false;
        for (size_t k = 1; k < n; ++k)
        {
            if ((static_cast<unsigned char>(str[i + k]) & 0xC0) != 0x80)
                return false;
        }
        unsigned char c1 = n > 1 ? static_cast<unsigned char>(str[i + 1]) : 0;
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 > 0x8F))
            return false;
        i += n;
    }
    return true;
}
} // namespace

bool ParseJsonObject(const std::string& strLine, CJsonObject* pObject)
{
    *pObject = CJsonObject{};
    if (!IsValidUtf8(strLine))
        return false;
    CJsonParser parser(strLine);
    return parser.Object(pObject);
}
