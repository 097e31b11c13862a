#pragma once
// Opening a worker's internet session and logging in to its site: the
// session with the update engine's six time-outs, then a passive FTP
// connection with the site's credentials (or the anonymous login when the
// site asks for anonymous updates).
//
// Threads: the worker's own; the session may later be closed from any thread.

#include <memory>
#include <string>

#include "net/InternetSession.h"

class CFTPSite;
class CFtpConnection;

// The session options of an update worker: the same six values a session
// holds, with the update engine's own defaults.
struct CSessionTimeouts : CInternetOptions
{
    CSessionTimeouts()
    {
        nConnectTimeout = 3000;
        nControlSendTimeout = 1000;
        nControlReceiveTimeout = 7000;
        nDataSendTimeout = 1000;
        nDataReceiveTimeout = 7000;
        nConnectRetries = 1;
    }
};

// Sets the six time-out options on a session.
void SetSessionTimeouts(CInternetSession& session, const CSessionTimeouts& timeouts = {});

// A session with agent "my" and the time-outs set; null when it cannot be
// created (the worker then reports "更新失败:\n创建Internet会话失败").
[[nodiscard]] std::unique_ptr<CInternetSession>
OpenSiteSession(const CSessionTimeouts& timeouts = {});

// Logs in to the site over a new connection of the session, which then
// heeds the engine's stop flag. On failure returns null and puts the error
// text (at most 1023 bytes) in *pError, for "更新失败:\n%s".
[[nodiscard]] std::unique_ptr<CFtpConnection>
OpenSiteConnection(CInternetSession& session, const CFTPSite& site, std::string* pError);
