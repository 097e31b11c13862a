#pragma once
// The error codes of the FTP layer, kept to the numbers the crawler and the
// worker were designed around, with a short text for each.
//
// Threads: the last error is per thread, like the system's own.

#include <cstdint>
#include <string>

inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_NO_MORE_FILES = 18;
inline constexpr uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
// The certificate names another host.
inline constexpr uint32_t ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
// The certificate does not chain to a trusted CA (or is expired, revoked...).
inline constexpr uint32_t ERROR_INTERNET_INVALID_CA = 12045;
// The TLS handshake itself failed.
inline constexpr uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr uint32_t ERROR_FTP_DROPPED = 12111;
// Our own: a listing larger than the listing size limit.
inline constexpr uint32_t ERROR_FTP_LISTING_TOO_LARGE = 12901;
// Our own: TLS was required and the server refused "AUTH TLS".
inline constexpr uint32_t ERROR_FTP_TLS_NOT_OFFERED = 12902;
// Our own: the server's key is not the pinned one.
inline constexpr uint32_t ERROR_FTP_TLS_PIN_MISMATCH = 12903;
// Our own: TLS was required, the login went over it, and then the server
// refused to protect the data connections ("PROT P").
inline constexpr uint32_t ERROR_FTP_TLS_PROT_REFUSED = 12904;
// Our own: a command drew more preliminary (1xx) replies than any server
// sends for one command.
inline constexpr uint32_t ERROR_FTP_REPLY_FLOOD = 12905;
// Our own: a listing took longer, from request to final reply, than the
// site's listing time-out.
inline constexpr uint32_t ERROR_FTP_LISTING_TIMEOUT = 12906;
// Our own, downloads: the server refused "REST" (no resume).
inline constexpr uint32_t ERROR_FTP_REST_REFUSED = 12907;
// Our own, downloads: the receiver of the bytes ended the transfer.
inline constexpr uint32_t ERROR_FTP_SINK_REFUSED = 12908;
// Our own, downloads: the bytes already here are more than the file holds.
inline constexpr uint32_t ERROR_FTP_OFFSET_BEYOND_END = 12909;
// Our own, downloads: the transfer ended short of the file's size.
inline constexpr uint32_t ERROR_FTP_PARTIAL_FILE = 12910;
// Our own, downloads: the server would not send the file (no such file, no permission).
inline constexpr uint32_t ERROR_FTP_RETRIEVE_REFUSED = 12911;

// 12002, 12030, 12031 and 12111: the control connection is gone.
[[nodiscard]] bool IsConnectionLost(uint32_t nError);

// 12905 and 12906: a listing hit one of the bounds that keep a hostile
// server from holding an update (or its memory) for ever.
[[nodiscard]] bool IsListingBound(uint32_t nError);

// 12038, 12045, 12157, 12902, 12903, 12904: the connection was refused for
// the sake of TLS.
[[nodiscard]] bool IsTlsFailure(uint32_t nError);

// A short human-readable text for an error code ("" for 0).
std::string FormatInternetError(uint32_t nError);

// The error of the last failed FTP-layer call on this thread.
uint32_t GetLastInternetError();
void SetLastInternetError(uint32_t nError);
// The same with what the call had to say beyond its code's text (a refused
// certificate's fingerprints).
void SetLastInternetError(uint32_t nError, std::string strText);
// That text, or FormatInternetError of the last error when there is none.
std::string GetLastInternetErrorText();
