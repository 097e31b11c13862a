// Downloads over a logged-in CFtpConnection: the same easy handle, so the
// control connection, its login and its TLS (pin included) are reused.

#include "net/FtpConnection.h"
#include "net/InternetError.h"
#include "net/SocketRegistry.h"

namespace
{
// Larger reads than libcurl's 16 KiB default: fewer callbacks per megabyte.
constexpr long DOWNLOAD_BUFFER = 512 * 1024;

bool HasLineBreakOrNul(const std::string& str)
{
    return str.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}
} // namespace

uint32_t CFtpConnection::ClassifyRetrieve(int nResult)
{
    switch (nResult)
    {
    case CURLE_FTP_COULDNT_USE_REST:
        // libcurl hangs up after this one: the next request needs a new login.
        m_nDeadError = ERROR_FTP_REST_REFUSED;
        return ERROR_FTP_REST_REFUSED;
    case CURLE_BAD_DOWNLOAD_RESUME:
        return ERROR_FTP_OFFSET_BEYOND_END; // the line stays
    case CURLE_PARTIAL_FILE:
        // The data connection ended early; whether the control connection
        // lived through it is not worth finding out.
        m_nDeadError = ERROR_FTP_PARTIAL_FILE;
        return ERROR_FTP_PARTIAL_FILE;
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    {
        long nReply = 0;
        curl_easy_getinfo(m_pEasy, CURLINFO_RESPONSE_CODE, &nReply);
        if (nReply == 421 || nReply == 425 || nReply == 426)
            return Classify(nResult);
        return ERROR_FTP_RETRIEVE_REFUSED;
    }
    default:
        return Classify(nResult);
    }
}

bool CFtpConnection::RetrieveFile(const std::string& strPath, uint64_t nOffset, IFtpFileSink& sink,
                                  CFtpRetrieveInfo* pInfo)
{
    CFtpRetrieveInfo info;
    if (pInfo != nullptr)
        *pInfo = info;
    if (m_nDeadError != 0 || m_pRegistry->IsClosed() || m_pEasy == nullptr)
        return Fail(m_nDeadError != 0 ? m_nDeadError : ERROR_INTERNET_CONNECTION_ABORTED);
    size_t nSlash = strPath.rfind('/');
    if (strPath.empty() || strPath[0] != '/' || HasLineBreakOrNul(strPath) ||
        nSlash + 1 >= strPath.size())
        return Fail(ERROR_INTERNET_INVALID_URL);
    std::string strName = strPath.substr(nSlash + 1);
    char* pEscaped = curl_easy_escape(m_pEasy, strName.data(), static_cast<int>(strName.size()));
    if (pEscaped == nullptr)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::string strUrl = MakeUrl(nSlash == 0 ? "/" : strPath.substr(0, nSlash)) + pEscaped;
    curl_free(pEscaped);

    // Counts what reached the sink, so a cut transfer still says how far it got.
    struct CCounter : IFtpFileSink
    {
        IFtpFileSink* pNext = nullptr;
        uint64_t nBytes = 0;
        bool Write(const char* pData, size_t nBytes_) override
        {
            if (!pNext->Write(pData, nBytes_))
                return false;
            nBytes += nBytes_;
            return true;
        }
    } counter;
    counter.pNext = &sink;

    curl_easy_setopt(m_pEasy, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(m_pEasy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_pEasy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(m_pEasy, CURLOPT_BUFFERSIZE, DOWNLOAD_BUFFER);
    curl_easy_setopt(m_pEasy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(nOffset));
    m_nSizeReply = -1;
    m_bAwaitingSizeReply = false;
    m_pSink = &counter;
    int nResult = Perform();
    m_pSink = nullptr;
    curl_easy_setopt(m_pEasy, CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    // Back to the folder URL: a listing next must not address the file.
    curl_easy_setopt(m_pEasy, CURLOPT_URL, m_strCurrentUrl.c_str());

    info.nServerSize = m_nSizeReply;
    info.nReceived = counter.nBytes;
    if (pInfo != nullptr)
        *pInfo = info;
    uint32_t nError = nResult == CURLE_OK ? 0 : ClassifyRetrieve(nResult);
    if (nError != 0)
        return Fail(nError);
    return true;
}
