#pragma once
// tarn-cli's command line: global options, one command, its options and
// arguments, and the usage texts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CCommandLine
{
    // Global options.
    std::optional<std::string> m_strDataDir;
    bool m_bJson = false;

    std::string m_strCommand; // empty: none given

    // add / edit.
    std::optional<std::string> m_strHost;
    std::optional<int32_t> m_nPort;
    std::optional<std::string> m_strUser;
    std::optional<std::string> m_strPassword;
    bool m_bAnonymous = false;
    std::optional<bool> m_bAnonUpdate;
    std::optional<std::string> m_strNickname;
    std::optional<std::string> m_strRemark;
    std::optional<std::string> m_strCharset; // a known set's own name, or "auto"
    std::optional<std::string> m_strTls;     // "off", "explicit", "try" or "implicit"
    std::optional<bool> m_bTrustFirstUse;
    // trust.
    bool m_bYes = false;
    // update.
    std::optional<uint32_t> m_nThreads;
    std::optional<std::string> m_strListing; // "auto", "stat" or "list"
    // ls.
    bool m_bRecursive = false;
    // ls, new, search, find: "csv", "json" or "urls" (doc/Export.h).
    std::optional<std::string> m_strFormat;
    // changes: ISO 8601 or seconds since 1970 (model/IsoTime.h).
    std::optional<std::string> m_strSince;
    // read.
    bool m_bAll = false;
    // find: most matches shown; only their number.
    std::optional<uint64_t> m_nLimit;
    bool m_bCount = false;
    // schedule install: hours between runs, or the daily time ("HH:MM").
    std::optional<uint32_t> m_nEveryHours;
    std::optional<std::string> m_strDaily;

    // get.
    std::optional<std::string> m_strOutput;

    std::vector<std::string> m_args; // positional arguments of the command
};

enum class ParseResult
{
    run,   // run the command
    help,  // print the usage text of m_strCommand (empty: the program's) and exit 0
    usage, // bad usage: print the one-line message and exit 2
};

// Parses argv. On usage, *pstrError is the one line to print on stderr.
[[nodiscard]] ParseResult ParseCommandLine(int argc, char** argv, CCommandLine* pLine,
                                           std::string* pstrError);

// The full usage text of a command (empty: of the program).
std::string GetHelpText(const std::string& strCommand);

// Commands that change the data folder take its lock.
bool IsWritingCommand(const std::string& strCommand);
