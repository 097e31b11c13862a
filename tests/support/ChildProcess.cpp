#include "support/ChildProcess.h"

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

int RunInChild(const std::function<int()>& fn, std::chrono::seconds timeout)
{
    pid_t nPid = ::fork();
    if (nPid == 0)
        ::_exit(fn());
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int nStatus = 0;
    while (::waitpid(nPid, &nStatus, WNOHANG) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            ::kill(nPid, SIGKILL);
            ::waitpid(nPid, &nStatus, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}
