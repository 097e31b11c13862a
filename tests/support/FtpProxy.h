#pragma once
// A man in the middle for the TLS tests: listens on 127.0.0.1 with a free
// port and relays each FTP control connection to a server on 127.0.0.1.
// A connection either passes untouched (TLS goes through, unreadable here)
// or is stripped: "AUTH" is answered here with a refusal and never reaches
// the server, so a client that gives up TLS goes on in clear, and every line
// such a client sends is kept. Data connections go to the server directly
// (its PASV reply names it).
//
// Threads: create, query and destroy it on the test's thread; it relays on
// threads of its own.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CTestFtpProxy
{
public:
    struct CLeg
    {
        uint16_t nServerPort = 0;
        bool bStripTls = false;
    };

    // Connection n (counted from 1) takes legs[n - 1]; the last leg takes
    // every later connection. GetPort() is 0 when it could not listen.
    explicit CTestFtpProxy(std::vector<CLeg> legs);
    ~CTestFtpProxy();
    CTestFtpProxy(const CTestFtpProxy&) = delete;
    CTestFtpProxy& operator=(const CTestFtpProxy&) = delete;

    uint16_t GetPort() const { return m_nPort; }
    // Every command line clients sent in clear ("AUTH TLS", "USER anonymous",
    // "PASS secret"...), as "<connection number> <line>", in order.
    std::vector<std::string> GetClearLines() const;
    // A "PASS" among them.
    bool SawPasswordInClear() const;
    int CountConnections() const { return m_nConnections.load(); }

private:
    void Accept();
    void Relay(int nClient, int nConnection);
    void Record(int nConnection, const std::string& strLine);

    std::vector<CLeg> m_legs;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_nPort = 0;
    std::atomic<int> m_nConnections{0};
    std::thread m_acceptThread;
    mutable std::mutex m_lock; // guards the two below
    std::vector<std::thread> m_relays;
    std::vector<std::string> m_clearLines;
};
