#include "TerminateSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{
int g_signalPipe[2] = {-1, -1};

const int TERMINATE_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnTerminateSignal(int)
{
    int nSavedErrno = errno;
    char c = 1;
    (void)!::write(g_signalPipe[1], &c, 1);
    errno = nSavedErrno;
}
} // namespace

CTerminateSignals::CTerminateSignals(QObject* pParent) : QObject(pParent)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int nSignal : TERMINATE_SIGNALS)
        if (::sigaction(nSignal, &action, nullptr) != 0)
            return;
    m_pNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CTerminateSignals::OnReadable);
}

CTerminateSignals::~CTerminateSignals()
{
    for (int nSignal : TERMINATE_SIGNALS)
        ::signal(nSignal, SIG_DFL);
}

void CTerminateSignals::OnReadable()
{
    char buffer[64];
    while (::read(g_signalPipe[0], buffer, sizeof(buffer)) > 0)
    {
    }
    emit Terminate();
}
