#pragma once
// FTP over TLS: how a connection protects itself and whom it trusts. The
// modes and CTlsSettings are the site's choice (model/TlsMode.h):
//
//   off       plain FTP.
//   explicit  "AUTH TLS" on the ordinary port; a server that refuses it
//             fails the login before the user name or password is sent.
//   try       "AUTH TLS" when the server takes it, otherwise plain FTP.
//             A site with a pinned key never gets this mode: it counts as
//             explicit then (CSiteSettings::GetTls).
//   implicit  TLS from the first byte. On the FTP default port 21 it means
//             port 990 (the implicit-TLS port); any other port is used as
//             given, so a server on an odd port still works.
// Whenever the control connection is protected, the data connections are
// too ("PROT P"), resuming the control connection's TLS session, as servers
// that insist on it (vsftpd's require_ssl_reuse) demand.
//
// Trust. A pin ("sha256//<base64>" of the server's public key, as libcurl
// writes it) accepts exactly that key and nothing else: neither the CA
// store, nor the host name, nor the certificate's dates matter then, as for
// a self-signed certificate (an expired one is accepted but reported, see
// CTlsCertificate::bExpired). Without a pin the certificate must chain to
// the system's CA store, name the host and be within its dates, unless the
// site trusts on first use: then the key of the first connection that has
// no pin is accepted whatever its certificate says (self-signed, another
// host's name, expired), and the caller pins it (see SiteConnection.h), so
// from then on only that key is. Those are the only two ways past the CA
// check; no setting accepts every certificate every time.
//
// Threads: plain values; the CA bundle override is process-wide and
// guarded.

#include <cstdint>
#include <string>
#include <string_view>

#include "model/TlsMode.h"

inline constexpr uint16_t INTERNET_DEFAULT_FTPS_PORT = 990;

// The port a connection of this mode dials for a site's port.
uint16_t GetTlsPort(TlsMode nMode, uint16_t nPort);

// What a server's certificate says, for people deciding whether to trust it.
struct CTlsCertificate
{
    std::string strPin; // "sha256//<base64>" of its public key
    std::string strSubject;
    std::string strIssuer;
    std::string strExpires; // as libcurl prints it ("Dec 11 01:36:31 2026 GMT")
    bool bExpired = false;  // its end date has passed
};

// "sha256//<base64>" of the SHA-256 of a PEM certificate's public key (its
// DER SubjectPublicKeyInfo), or "" when the text holds no certificate.
std::string ComputePublicKeyPin(std::string_view strPem);
// Whether a PEM certificate's end date has passed (false when the text
// holds no certificate).
[[nodiscard]] bool IsCertificateExpired(std::string_view strPem);
// One "sha256//" followed by 44 base64 characters (32 bytes).
[[nodiscard]] bool IsValidPin(std::string_view strPin);

// A CA bundle used instead of the system's (tests trust a CA of their own
// this way); "" restores the system's.
void SetTlsCaBundle(const std::string& strPath);
std::string GetTlsCaBundle();
