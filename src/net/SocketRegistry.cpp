#include "net/SocketRegistry.h"

#include <algorithm>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

int CSocketRegistry::Open(int nFamily, int nType, int nProtocol)
{
    std::lock_guard guard(m_lock);
    if (m_bClosed.load())
        return -1;
    int fd = socket(nFamily, nType | SOCK_CLOEXEC, nProtocol);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    fstat(fd, &st);
    // libcurl may close a socket that is still connecting without telling
    // us; its number can come back here, so drop the stale record.
    std::erase_if(m_records, [fd](const CRecord& r) { return r.fd == fd; });
    m_records.push_back(CRecord{fd, st.st_dev, st.st_ino});
    return fd;
}

void CSocketRegistry::Release(int fd)
{
    std::lock_guard guard(m_lock);
    std::erase_if(m_records, [fd](const CRecord& r) { return r.fd == fd; });
    close(fd);
}

void CSocketRegistry::CloseAll()
{
    std::lock_guard guard(m_lock);
    m_bClosed.store(true);
    for (const CRecord& record : m_records)
    {
        // A number libcurl closed behind our back may now be someone else's
        // socket or file: only shut it down if it still is the same socket.
        struct stat st
        {
        };
        if (fstat(record.fd, &st) == 0 && st.st_dev == record.nDevice && st.st_ino == record.nInode)
            shutdown(record.fd, SHUT_RDWR);
    }
}

namespace
{
curl_socket_t OpenSocket(void* pClient, curlsocktype, curl_sockaddr* pAddress)
{
    auto* pRegistry = static_cast<CSocketRegistry*>(pClient);
    int fd = pRegistry->Open(pAddress->family, pAddress->socktype, pAddress->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int CloseSocket(void* pClient, curl_socket_t fd)
{
    static_cast<CSocketRegistry*>(pClient)->Release(fd);
    return 0;
}
} // namespace

void AttachSocketRegistry(CURL* e, CSocketRegistry* pRegistry)
{
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, pRegistry);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &CloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, pRegistry);
}
