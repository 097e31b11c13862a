#pragma once
// FTP URLs built from a site record and a server path. User name, password
// and path are percent-encoded as RFC 3986 requires, so a password holding
// "@", ":" or "/" and names holding " ", "#", "?", "%" or non-ASCII bytes give
// URLs that every client reads back the same; names made only of unreserved
// characters come out unchanged.

#include <string>
#include <string_view>

class CFTPSite;

// Every byte except ALPHA, DIGIT, "-", ".", "_", "~" and the bytes of
// strKeep becomes "%XX" (upper-case hex).
std::string PercentEncode(std::string_view str, std::string_view strKeep);

// "ftp://[user:password@]host:port" + the encoded path; user and password
// only for a site that is not anonymous. An IPv6 host gets its brackets.
std::string BuildFtpUrl(const CFTPSite& site, std::string_view strPath);
