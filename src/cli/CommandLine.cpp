#include "cli/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "doc/Export.h"
#include "model/IsoTime.h"
#include "model/NameCodec.h"
#include "model/SiteSettings.h"

namespace
{
struct CCommandSpec
{
    const char* pszName;
    const char* pszSynopsis; // after "tarn-cli [global options] "
    const char* pszSummary;
    const char* pszOptions; // option lines and notes of its help text
    size_t nMinArgs;
    size_t nMaxArgs;
    bool bWrites;
};

constexpr const char* SITE_OPTIONS =
    "  --host H          host name or address\n"
    "  --port N          port (1-65535; add: 21 when not given)\n"
    "  --user U          user name (with --password)\n"
    "  --password P      password; \"-\" reads it from the first line of stdin\n"
    "  --anonymous       log in as \"anonymous\"\n"
    "  --anon-update     update the site with the anonymous login\n"
    "  --no-anon-update  update it with its own login\n"
    "  --nickname S      shown name\n"
    "  --remark S        free-text remark\n"
    "  --charset NAME    the server's character set for names: auto (UTF-8, else\n"
    "                    GB18030), UTF-8, GB18030 (GBK), Big5, Shift_JIS, EUC-JP,\n"
    "                    EUC-KR, Windows-1251, KOI8-R, Windows-1252, ISO-8859-1\n"
    "  --tls MODE        off (plain FTP, the default), explicit (AUTH TLS; never logs\n"
    "                    in without it), try (AUTH TLS when offered, else plain) or\n"
    "                    implicit (TLS from the first byte; port 21 means port 990)\n"
    "  --trust-on-first-use\n"
    "                    accept the certificate the first TLS connection meets and pin\n"
    "                    its key, instead of asking the system's CA store\n"
    "  --no-trust-on-first-use\n"
    "                    ask the system's CA store again (a key pinned already stays)\n";

constexpr size_t ANY_NUMBER = static_cast<size_t>(-1);

const CCommandSpec COMMANDS[] = {
    {"sites", "sites", "list the sites in list order", "", 0, 0, false},
    {"add",
     "add --host H [--port N] [--user U --password P | --anonymous] [--anon-update] "
     "[--nickname S] [--remark S] [--charset NAME] [--tls MODE] [--trust-on-first-use]",
     "add a site (anonymous when no user is given)", SITE_OPTIONS, 0, 0, true},
    {"edit",
     "edit KEY [--host H] [--port N] [--user U] [--password P] [--anonymous] "
     "[--anon-update | --no-anon-update] [--nickname S] [--remark S] [--charset NAME] "
     "[--tls MODE] [--trust-on-first-use | --no-trust-on-first-use]",
     "change the given fields of the site KEY, keep the others", SITE_OPTIONS, 1, 1, true},
    {"trust", "trust [--yes] KEY",
     "show the TLS certificate of the site KEY's server and pin its key",
     "  --yes             pin without asking (otherwise asked on a terminal only)\n"
     "Connects without logging in, shows the fingerprint of the server's public key\n"
     "and, once confirmed, makes it the one key the site accepts (tls_pin).\n",
     1, 1, true},
    {"remove", "remove KEY", "delete the site KEY and its cached files", "", 1, 1, true},
    {"import", "import FILE",
     "add the sites of a text file, one \"[ftp://][user[:password]@]host[:port]\" per line", "", 1,
     1, true},
    {"update", "update [--threads N] [--listing MODE] [TARGET...]",
     "update every site, or each TARGET (a site key or the node address of a cached folder)",
     "  --threads N       most sites updated at once (1-500, default 5)\n"
     "  --listing MODE    how the updated sites list their folders, kept for later updates:\n"
     "                    auto (default: over the control connection with STAT where the\n"
     "                    server gives the same listing both ways), stat, or list (a data\n"
     "                    connection per folder)\n",
     0, ANY_NUMBER, true},
    {"ls", "ls [-R] [--format F] ADDRESS",
     "list the cached folder at a node address (\"ftp://<key>/<path>\" or \"<key>/<path>\")",
     "  -R, --recursive   everything below it: a folder, then its contents, then the files\n"
     "  --format F        csv, json or urls (see \"tarn-cli search --help\")\n",
     1, 1, false},
    {"new", "new [--format F] [ADDRESS]",
     "list the unread entries of every site, or below one cached folder",
     "  --format F        csv, json or urls (see \"tarn-cli search --help\")\n", 0, 1, false},
    {"search", "search [--format F] KEYWORD",
     "search every cached tree (folders lower-cased, files as stored; \"#new\": unread entries)",
     "A folder matches when its name, with A-Z turned into a-z, contains KEYWORD;\n"
     "a file matches when its name as stored contains KEYWORD. So lower-case letters\n"
     "find folders of any case and files of that case only (\"readme\" finds the\n"
     "folder README, not the file README.TXT), and a keyword with a capital letter\n"
     "finds no folder at all. An empty KEYWORD lists everything; \"#new\" lists the\n"
     "unread entries, an unread folder standing for all of its contents.\n"
     "\n"
     "Options:\n"
     "  --format F        for other programs: csv (UTF-8 with BOM, a header row, columns\n"
     "                    name, size, address, url, unread), json (one object per entry,\n"
     "                    with its FTP URL) or urls (one FTP URL per line)\n",
     1, 1, false},
    {"find", "find [--json] [--format F] [--limit N] [--count] QUERY",
     "search every cached tree with the query language (as the window's search box)",
     "Words must all match (letter case ignored); a|b either; !a not; \"a b\" literal text;\n"
     "<a|b> c groups; * and ? make a pattern over the whole name (*.iso, linux-?.?.tar.gz).\n"
     "Filters: ext:iso;img  size:>700M  size:1M..10M (K, M, G, T: powers of 1,024)\n"
     "file:  folder:  path:WORD (the path from the site's root)  site:WORD (key or\n"
     "nickname)  unread:  case:WORD (letter case counts)  regex:PATTERN (RE2 syntax).\n"
     "An empty QUERY lists everything. Exit status: 0 something found, 1 nothing,\n"
     "2 a query that cannot be read (where it goes wrong is said on stderr).\n"
     "\n"
     "Options:\n"
     "  --json            one JSON object per match (as search --json), then\n"
     "                    {\"done\":true,\"found\":N,\"ms\":T,\"load_ms\":L}: T the search's own\n"
     "                    time, L the time the caches took to load\n"
     "  --format F        csv, json or urls (see \"tarn-cli search --help\")\n"
     "  --limit N         stop after N matches\n"
     "  --count           only the number of matches\n",
     1, 1, false},
    {"read", "read (--all | ADDRESS...)",
     "mark every site read, or the given folders (with everything below them) and files",
     "  --all             every entry of every site\n", 0, ANY_NUMBER, true},
    {"url", "url ADDRESS", "the FTP URL of a node address", "", 1, 1, false},
    {"get", "get [--output DIR] [--json] (URL|ADDRESS)...",
     "download files (a folder's address: every cached file below it, its folders recreated)",
     "  --output DIR      where the files go (default: $XDG_DOWNLOAD_DIR, else ~/Downloads)\n"
     "  --json            one JSON object per file on stdout: file, saved, state, bytes, error\n"
     "\n"
     "An ADDRESS names a cached file or folder (as ls shows them); a URL\n"
     "(ftp://[user[:password]@]host[:port]/path) uses the login of the site it names.\n"
     "Data goes to NAME.part first; a .part left by an earlier run is continued. A\n"
     "finished file never replaces another: \"name (1).ext\". A progress line is shown\n"
     "when standard error is a terminal. Exit status: 0 every file arrived, 1 one failed.\n",
     1, ANY_NUMBER, false},
    {"changes", "changes [--since TIME] [KEY|ADDRESS]",
     "what the last update of every site (or of one site, or below one folder) added, removed, "
     "resized or (where the site logs them: log_modified) modified",
     "  --since TIME      every change from TIME on instead, over all updates: ISO 8601\n"
     "                    (\"2024-05-01\", \"2024-05-01T12:00\", local time unless \"Z\" or\n"
     "                    an offset follows) or seconds since 1970\n"
     "\n"
     "Each site keeps its changes in Data/<site folder>/changes.log, one JSON object per\n"
     "line (times in UTC), saved with the cache that holds them. A site's first update\n"
     "writes a \"first\" line with what it found (one per save, shown added up); a\n"
     "removed folder is one line, with what it held.\n",
     0, 1, false},
    {"schedule", "schedule (install [--every Nh | --daily HH:MM] | remove | status)",
     "update every site on a schedule while no window is open (a systemd user timer)",
     "  install           write ~/.config/systemd/user/tarn-update.{service,timer} for this\n"
     "                    data folder and enable the timer (Persistent=true: a run missed\n"
     "                    while the computer was off comes at the next start)\n"
     "  --every Nh        every N hours, N one of 1 2 3 4 6 8 12 24 (default: 6h)\n"
     "  --daily HH:MM     every day at this local time\n"
     "  remove            disable the timer and delete both files\n"
     "  status            the schedule, its next run and the last run's outcome\n"
     "While the window is open, the timer's update is handed to the window. Without\n"
     "systemd, a crontab line does the same:\n"
     "  0 */6 * * * tarn-cli --data-dir DIR update >>$HOME/tarn-update.log 2>&1\n",
     1, 1, false},
    {"stats", "stats [KEY...]",
     "figures of every site (or of the given ones): the cached tree's size and the last update",
     "With --json one object per site: key, folders (below the root), files, bytes,\n"
     "unread, last_start, last_end (ISO 8601, UTC), duration_s, folders_listed,\n"
     "commands, listing_bytes, last_error (null where the site has not been updated).\n",
     0, ANY_NUMBER, false},
};

const CCommandSpec* FindCommand(const std::string& strName)
{
    for (const CCommandSpec& command : COMMANDS)
    {
        if (strName == command.pszName)
            return &command;
    }
    return nullptr;
}

std::string UsageLine(const CCommandSpec* pSpec)
{
    if (pSpec == nullptr)
        return "usage: tarn-cli [--data-dir DIR] [--json] COMMAND [ARGS] (tarn-cli --help lists "
               "the commands)";
    return std::string("usage: tarn-cli [--data-dir DIR] [--json] ") + pSpec->pszSynopsis;
}

bool ParseNumber(const std::string& str, long nMin, long nMax, long* pn)
{
    if (str.empty() || str.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    long n = std::strtol(str.c_str(), nullptr, 10);
    if (errno != 0 || n < nMin || n > nMax)
        return false;
    *pn = n;
    return true;
}

class CParser
{
public:
    CParser(int argc, char** argv, CCommandLine* pLine, std::string* pstrError)
        : m_args(argv + 1, argv + argc), m_pLine(pLine), m_pstrError(pstrError)
    {
    }

    ParseResult Run();

private:
    ParseResult Fail(const std::string& strWhy)
    {
        *m_pstrError = "tarn-cli: " + strWhy + "; " + UsageLine(m_pSpec);
        return ParseResult::usage;
    }
    // Splits "--name=value"; true when the argument had a value attached.
    static bool SplitValue(std::string* pstrArg, std::string* pstrValue);
    bool TakeValue(const std::string& strName, bool bAttached, std::string* pstrValue);
    ParseResult CommandOption(const std::string& strArg);

    std::vector<std::string> m_args;
    size_t m_nNext = 0;
    CCommandLine* m_pLine;
    std::string* m_pstrError;
    const CCommandSpec* m_pSpec = nullptr;
    std::string m_strAttached;
    ParseResult m_result = ParseResult::run;
};

bool CParser::SplitValue(std::string* pstrArg, std::string* pstrValue)
{
    if (pstrArg->compare(0, 2, "--") != 0)
        return false;
    size_t nEq = pstrArg->find('=');
    if (nEq == std::string::npos)
        return false;
    *pstrValue = pstrArg->substr(nEq + 1);
    pstrArg->erase(nEq);
    return true;
}

bool CParser::TakeValue(const std::string&, bool bAttached, std::string* pstrValue)
{
    if (bAttached)
    {
        *pstrValue = m_strAttached;
        return true;
    }
    if (m_nNext >= m_args.size())
        return false;
    *pstrValue = m_args[m_nNext++];
    return true;
}

ParseResult CParser::Run()
{
    // Global options, up to the command.
    while (m_nNext < m_args.size())
    {
        std::string strArg = m_args[m_nNext];
        if (strArg.empty() || strArg[0] != '-')
            break;
        ++m_nNext;
        bool bAttached = SplitValue(&strArg, &m_strAttached);
        if (strArg == "--help" || strArg == "-h")
            return ParseResult::help;
        if (strArg == "--json" && !bAttached)
            m_pLine->m_bJson = true;
        else if (strArg == "--data-dir")
        {
            std::string strValue;
            if (!TakeValue(strArg, bAttached, &strValue) || strValue.empty())
                return Fail("--data-dir needs a folder");
            m_pLine->m_strDataDir = strValue;
        }
        else
            return Fail("unknown option '" + strArg + "'");
    }
    if (m_nNext >= m_args.size())
        return Fail("no command given");
    m_pLine->m_strCommand = m_args[m_nNext++];
    m_pSpec = FindCommand(m_pLine->m_strCommand);
    if (m_pSpec == nullptr)
        return Fail("unknown command '" + m_pLine->m_strCommand + "'");

    bool bOptionsEnded = false;
    while (m_nNext < m_args.size())
    {
        std::string strArg = m_args[m_nNext++];
        if (!bOptionsEnded && strArg == "--")
        {
            bOptionsEnded = true;
            continue;
        }
        if (bOptionsEnded || strArg.size() < 2 || strArg[0] != '-')
        {
            m_pLine->m_args.push_back(strArg);
            continue;
        }
        ParseResult result = CommandOption(strArg);
        if (result != ParseResult::run)
            return result;
    }
    if (m_result == ParseResult::help)
        return ParseResult::help;

    const std::string& strCommand = m_pLine->m_strCommand;
    size_t nArgs = m_pLine->m_args.size();
    if (strCommand == "read")
    {
        if (m_pLine->m_bAll == (nArgs > 0))
            return Fail("give either --all or addresses");
    }
    else if (nArgs < m_pSpec->nMinArgs)
        return Fail("missing argument");
    else if (nArgs > m_pSpec->nMaxArgs)
        return Fail("unexpected argument '" + m_pLine->m_args[m_pSpec->nMaxArgs] + "'");

    if (strCommand == "schedule")
    {
        const std::string& strAction = m_pLine->m_args[0];
        if (strAction != "install" && strAction != "remove" && strAction != "status")
            return Fail("schedule needs install, remove or status");
        if (m_pLine->m_nEveryHours && m_pLine->m_strDaily)
            return Fail("--every and --daily exclude each other");
        if ((m_pLine->m_nEveryHours || m_pLine->m_strDaily) && strAction != "install")
            return Fail("--every and --daily go with install");
    }
    if (strCommand == "add" || strCommand == "edit")
    {
        if (strCommand == "add" && !m_pLine->m_strHost)
            return Fail("--host is required");
        if (m_pLine->m_bAnonymous && (m_pLine->m_strUser || m_pLine->m_strPassword))
            return Fail("--anonymous excludes --user and --password");
        if (strCommand == "add" &&
            m_pLine->m_strUser.has_value() != m_pLine->m_strPassword.has_value())
            return Fail("--user and --password go together");
    }
    return ParseResult::run;
}

ParseResult CParser::CommandOption(const std::string& strGiven)
{
    std::string strArg = strGiven;
    bool bAttached = SplitValue(&strArg, &m_strAttached);
    const std::string& strCommand = m_pLine->m_strCommand;
    bool bSiteCommand = strCommand == "add" || strCommand == "edit";
    std::string strValue;
    auto needValue = [&]() -> bool { return TakeValue(strArg, bAttached, &strValue); };

    if (strArg == "--help" || strArg == "-h")
    {
        m_result = ParseResult::help;
        return ParseResult::run; // the rest is not examined
    }
    if (bSiteCommand)
    {
        std::optional<std::string>* pText = nullptr;
        if (strArg == "--host")
            pText = &m_pLine->m_strHost;
        else if (strArg == "--user")
            pText = &m_pLine->m_strUser;
        else if (strArg == "--password")
            pText = &m_pLine->m_strPassword;
        else if (strArg == "--nickname")
            pText = &m_pLine->m_strNickname;
        else if (strArg == "--remark")
            pText = &m_pLine->m_strRemark;
        if (pText != nullptr)
        {
            if (!needValue())
                return Fail(strArg + " needs a value");
            *pText = strValue;
            return ParseResult::run;
        }
        if (strArg == "--charset")
        {
            std::string strName = needValue() ? NormalizeCharsetName(strValue) : "";
            if (strName.empty())
            {
                std::string strKnown;
                for (const std::string& strSet : GetKnownCharsets())
                    strKnown += (strKnown.empty() ? "" : ", ") + strSet;
                return Fail("--charset needs one of " + strKnown);
            }
            m_pLine->m_strCharset = strName;
            return ParseResult::run;
        }
        if (strArg == "--tls")
        {
            TlsMode nMode;
            if (!needValue() || !ParseTlsMode(strValue, &nMode))
                return Fail("--tls needs off, explicit, try or implicit");
            m_pLine->m_strTls = strValue;
            return ParseResult::run;
        }
        if (!bAttached && (strArg == "--trust-on-first-use" || strArg == "--no-trust-on-first-use"))
        {
            m_pLine->m_bTrustFirstUse = strArg == "--trust-on-first-use";
            return ParseResult::run;
        }
        if (strArg == "--port")
        {
            long n = 0;
            if (!needValue() || !ParseNumber(strValue, 1, 65535, &n))
                return Fail("--port needs a number from 1 to 65535");
            m_pLine->m_nPort = static_cast<int32_t>(n);
            return ParseResult::run;
        }
        if (!bAttached && strArg == "--anonymous")
        {
            m_pLine->m_bAnonymous = true;
            return ParseResult::run;
        }
        if (!bAttached && (strArg == "--anon-update" || strArg == "--no-anon-update"))
        {
            m_pLine->m_bAnonUpdate = strArg == "--anon-update";
            return ParseResult::run;
        }
    }
    if (strCommand == "update" && strArg == "--threads")
    {
        long n = 0;
        if (!needValue() || !ParseNumber(strValue, 1, 500, &n))
            return Fail("--threads needs a number from 1 to 500");
        m_pLine->m_nThreads = static_cast<uint32_t>(n);
        return ParseResult::run;
    }
    if (strCommand == "update" && strArg == "--listing")
    {
        ListingMode nMode;
        if (!needValue() || !ParseListingMode(strValue, &nMode))
            return Fail("--listing needs auto, stat or list");
        m_pLine->m_strListing = strValue;
        return ParseResult::run;
    }
    if (strCommand == "get" && strArg == "--output")
    {
        if (!needValue() || strValue.empty())
            return Fail("--output needs a folder");
        m_pLine->m_strOutput = strValue;
        return ParseResult::run;
    }
    if ((strCommand == "find" || strCommand == "get") && !bAttached && strArg == "--json")
    {
        m_pLine->m_bJson = true;
        return ParseResult::run;
    }
    if (strCommand == "find" && !bAttached && strArg == "--count")
    {
        m_pLine->m_bCount = true;
        return ParseResult::run;
    }
    if (strCommand == "find" && strArg == "--limit")
    {
        long n = 0;
        if (!needValue() || !ParseNumber(strValue, 1, 2000000000L, &n))
            return Fail("--limit needs a number from 1 on");
        m_pLine->m_nLimit = static_cast<uint64_t>(n);
        return ParseResult::run;
    }
    if ((strCommand == "ls" || strCommand == "new" || strCommand == "search" ||
         strCommand == "find") &&
        strArg == "--format")
    {
        ExportFormat nFormat;
        if (!needValue() || !ParseExportFormat(strValue, &nFormat))
            return Fail("--format needs csv, json or urls");
        m_pLine->m_strFormat = strValue;
        return ParseResult::run;
    }
    if (strCommand == "changes" && strArg == "--since")
    {
        CWallTime time;
        if (!needValue() || !ParseIsoTime(strValue, &time))
            return Fail("--since needs an ISO 8601 time (2024-05-01T12:00) or seconds since 1970");
        m_pLine->m_strSince = strValue;
        return ParseResult::run;
    }
    if (strCommand == "ls" && !bAttached && (strArg == "-R" || strArg == "--recursive"))
    {
        m_pLine->m_bRecursive = true;
        return ParseResult::run;
    }
    if (strCommand == "trust" && !bAttached && (strArg == "--yes" || strArg == "-y"))
    {
        m_pLine->m_bYes = true;
        return ParseResult::run;
    }
    if (strCommand == "schedule" && strArg == "--every")
    {
        std::string strHours = needValue() ? strValue : "";
        if (!strHours.empty() && strHours.back() == 'h')
            strHours.pop_back();
        long n = 0;
        if (!ParseNumber(strHours, 1, 24, &n) || 24 % n != 0)
            return Fail("--every needs 1h, 2h, 3h, 4h, 6h, 8h, 12h or 24h");
        m_pLine->m_nEveryHours = static_cast<uint32_t>(n);
        return ParseResult::run;
    }
    if (strCommand == "schedule" && strArg == "--daily")
    {
        if (!needValue() || strValue.size() != 5 || strValue[2] != ':' ||
            strValue.find_first_not_of("0123456789:") != std::string::npos ||
            std::stoi(strValue.substr(0, 2)) > 23 || std::stoi(strValue.substr(3)) > 59)
            return Fail("--daily needs a time HH:MM (00:00 to 23:59)");
        m_pLine->m_strDaily = strValue;
        return ParseResult::run;
    }
    if (strCommand == "read" && !bAttached && strArg == "--all")
    {
        m_pLine->m_bAll = true;
        return ParseResult::run;
    }
    return Fail("unknown option '" + strGiven + "' for " + strCommand);
}
} // namespace

ParseResult ParseCommandLine(int argc, char** argv, CCommandLine* pLine, std::string* pstrError)
{
    CParser parser(argc, argv, pLine, pstrError);
    return parser.Run();
}

std::string GetHelpText(const std::string& strCommand)
{
    if (const CCommandSpec* pSpec = FindCommand(strCommand))
    {
        std::string str = UsageLine(pSpec) + "\n\n" + pSpec->pszSummary + ".\n";
        if (*pSpec->pszOptions != '\0')
            str += std::string("\n") + pSpec->pszOptions;
        if (pSpec->bWrites)
            str += "\nChanges the data folder: while the Tarn window has it open, update and read "
                   "are run by the window and other changes are refused; waits up to 10 s for "
                   "another tarn-cli that is "
                   "changing it.\n";
        return str;
    }
    std::string str =
        "usage: tarn-cli [--data-dir DIR] [--json] COMMAND [ARGS]\n"
        "\n"
        "Tarn without a window: updates, lists and searches the cached FTP sites of a Tarn\n"
        "data folder (the folder holding site.ds and Data/).\n"
        "\n"
        "Global options (before the command):\n"
        "  --data-dir DIR    the data folder (default: $TARN_HOME, else the program folder)\n"
        "  --json            one JSON object per line on stdout, nothing else\n"
        "  -h, --help        this text; \"tarn-cli COMMAND --help\" explains a command\n"
        "\n"
        "Commands:\n";
    for (const CCommandSpec& command : COMMANDS)
    {
        std::string strName = command.pszName;
        strName.resize(10, ' ');
        str += "  " + strName + command.pszSummary + "\n";
    }
    str += "\n"
           "Exit status: 0 success, 1 a reported failure (update: a site did not end with\n"
           "\"更新成功\"), 2 bad usage.\n"
           "\n"
           "Example (crontab: update every night at 03:00, keep a log):\n"
           "  0 3 * * * tarn-cli --data-dir $HOME/.local/share/tarn update >>$HOME/tarn-update.log "
           "2>&1\n";
    return str;
}

bool IsWritingCommand(const std::string& strCommand)
{
    const CCommandSpec* pSpec = FindCommand(strCommand);
    return pSpec != nullptr && pSpec->bWrites;
}
