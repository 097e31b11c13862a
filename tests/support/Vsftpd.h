#pragma once
// vsftpd serving a folder to the anonymous user on 127.0.0.1, for the few
// tests that must meet a real server's listing habits. vsftpd chroots, so it
// runs only as root and only where installed (scripts/setup.sh --bench);
// elsewhere IsAvailable is false and those tests are skipped.
//
// Threads: create, query and destroy it on the test's thread.

#include <cstdint>
#include <string>
#include <sys/types.h>

class CTestVsftpd
{
public:
    static bool IsAvailable();

    // Serves strRoot (made readable to the anonymous user); GetPort() is 0
    // when the server did not come up.
    explicit CTestVsftpd(const std::string& strRoot);
    ~CTestVsftpd();
    CTestVsftpd(const CTestVsftpd&) = delete;
    CTestVsftpd& operator=(const CTestVsftpd&) = delete;

    uint16_t GetPort() const { return m_nPort; }

private:
    std::string m_strStateDir;
    uint16_t m_nPort = 0;
    pid_t m_nPid = -1;
};
