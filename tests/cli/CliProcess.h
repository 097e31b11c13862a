#pragma once
// Runs the built tarn-cli as a child process with its stdout and stderr
// captured, and parses its JSON lines for the checks.

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct CCliResult
{
    int nExit = -1; // -1: killed by a signal or not waited for
    std::string strOut;
    std::string strErr;
    std::vector<std::string> Lines() const; // stdout split at "\n"
};

class CCliProcess
{
public:
    explicit CCliProcess(const std::vector<std::string>& args, const std::string& strStdin = "");
    ~CCliProcess(); // kills a child that still runs
    CCliProcess(const CCliProcess&) = delete;
    CCliProcess& operator=(const CCliProcess&) = delete;

    bool IsRunning();
    void Signal(int nSignal);
    // Reads until the child ends (or the time-out kills it).
    CCliResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // What stdout held so far (without waiting).
    std::string PeekOut();

private:
    void Drain(int nTimeoutMs);

    pid_t m_nPid = -1;
    int m_fdOut = -1;
    int m_fdErr = -1;
    CCliResult m_result;
    bool m_bReaped = false;
};

// Runs to the end.
CCliResult RunCli(const std::vector<std::string>& args, const std::string& strStdin = "");

// One flat JSON object of the output. Values are kept as their JSON text for
// numbers and literals, decoded for strings; m_types says which.
struct CJsonObject
{
    std::vector<std::string> m_keys; // in order
    std::map<std::string, std::string> m_values;
    // 's' string, 'n' number, 'b' true/false, '0' null, 'a' an array of
    // strings (the value: its items joined by line feeds)
    std::map<std::string, char> m_types;
    const std::string& operator[](const std::string& strKey) const { return m_values.at(strKey); }
};

// Strict parser for the flat objects tarn-cli writes; false on anything that
// is not valid JSON (or not valid UTF-8).
bool ParseJsonObject(const std::string& strLine, CJsonObject* pObject);
