#pragma once
// Opening a worker's internet session and logging in to its site: the
// session with the update engine's six time-outs, then a passive FTP
// connection with the site's credentials (or the anonymous login when the
// site asks for anonymous updates), over TLS when the site's options say so.
//
// A site's TLS is its settings' (CSiteSettings::GetTls): the mode, the
// pinned key and whether the first key met is trusted. A site that trusts on
// first use and has no pin gets the first connection's key as its pin.
//
// Threads: the worker's own; the session may later be closed from any
// thread. FetchSiteCertificate and TrustSiteCertificate may run on any
// thread (the window calls them for its "信任此证书" action).

#include <memory>
#include <string>

#include "net/InternetSession.h"
#include "net/TlsSettings.h"

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
// heeds the engine's stop flag. A site that trusts on first use and had no
// pin gets the accepted key as its tls_pin (a pin that cannot be written is
// asked for again next time). On failure returns null and puts the error
// text (at most 1023 bytes) in *pError, for "更新失败:\n%s"; a certificate
// that was refused adds how to trust it.
[[nodiscard]] std::unique_ptr<CFtpConnection>
OpenSiteConnection(CInternetSession& session, CFTPSite& site, std::string* pError);

// The lines a successful update adds to "更新成功" about TLS: which way a
// "try" site was reached and whether its listings were protected, the key a
// first connection trusted, a pinned certificate that has expired; "" when
// there is nothing to say.
std::string GetTlsNote(const CFtpConnection& connection);

// The status text (after "更新失败:\n") of an update whose listing
// connection could not log in as protected as the first one: nError and
// strFailure as CListingReport has them.
std::string DescribeListingTlsFailure(const CFTPSite& site, uint32_t nError,
                                      const std::string& strFailure);

// Reads the certificate of the site's server the way its updates connect
// (implicit TLS for an implicit site, "AUTH TLS" otherwise), without
// logging in: no user name or password is sent. Blocks for at most the
// connect and receive time-outs of a worker; pSession (null: a session of
// its own) lets another thread cut it short with Close. False with the
// error text in *pError.
[[nodiscard]] bool FetchSiteCertificate(const CFTPSite& site, CTlsCertificate* pCert,
                                        std::string* pError, CInternetSession* pSession = nullptr);
// The same for a server and TLS choice not saved yet (the site dialog asks
// before its choices are written); nPort is the site's port.
[[nodiscard]] bool FetchSiteCertificate(const std::string& strHost, int32_t nPort,
                                        const CTlsSettings& tls, CTlsCertificate* pCert,
                                        std::string* pError, CInternetSession* pSession = nullptr);

// Makes strPin ("sha256//<base64>", CTlsCertificate::strPin) the one key the
// site accepts from now on, replacing any earlier pin. False for a text that
// is no pin; raises CFileException when the options cannot be written.
[[nodiscard]] bool TrustSiteCertificate(CFTPSite& site, const std::string& strPin);
