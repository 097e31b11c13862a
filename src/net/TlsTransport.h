#pragma once
// libcurl's side of FTP over TLS, shared by the FTP connection, the control
// channel and the certificate probe: the handle options of a mode and a
// trust, the certificate a handshake saw, and the texts of TLS failures.
//
// Threads: each call works on the caller's own handle.

#include <cstdint>
#include <memory>
#include <string>

#include <curl/curl.h>

#include "net/TlsSettings.h"

class CSocketRegistry;
struct CInternetOptions;

// "ftp://host:port/", or "ftps://host:port/" for implicit TLS.
std::string MakeFtpBaseUrl(const std::string& strServer, uint16_t nPort, TlsMode nMode);

// Sets a handle that is about to connect to the mode and trust of tls, with
// the certificate chain collected (CURLINFO_CERTINFO) at the handshake.
void ApplyTlsOptions(CURL* pEasy, const CTlsSettings& tls);

// The server certificate of the handle's last handshake; false when the
// connection did not use TLS.
[[nodiscard]] bool ReadServerCertificate(CURL* pEasy, CTlsCertificate* pCert);

// The TLS error code of a failed connect, or 0 when it failed otherwise;
// pszDetail is the handle's error buffer (may be null).
uint32_t ClassifyTlsResult(CURL* pEasy, int nResult, const char* pszDetail);

// The text of a TLS error: what went wrong, with the fingerprint of the
// certificate the server showed (pSeen, null when it could not be read) and,
// for a changed key, the pinned one. pszDetail is libcurl's own words on a
// failed handshake.
std::string DescribeTlsFailure(uint32_t nError, CURL* pEasy, const char* pszDetail,
                               const CTlsSettings& tls, const CTlsCertificate* pSeen,
                               const std::string& strServer);

// Reads the certificate of the server at strBaseUrl (MakeFtpBaseUrl) without
// logging in: the connection ends right after the TLS handshake, so no user
// name or password is sent. Explicit TLS is asked for unless the URL is
// implicit. Its sockets go through pRegistry, so closing that cuts it.
// 0, or an error code with the text in *pstrText.
uint32_t ProbeCertificate(const std::string& strBaseUrl, const CInternetOptions& options,
                          const std::shared_ptr<CSocketRegistry>& pRegistry, CTlsCertificate* pCert,
                          std::string* pstrText);
