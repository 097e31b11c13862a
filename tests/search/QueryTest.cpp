// The query language over a small catalogue of two sites (UTF-8 names, and
// GBK names read as GB18030): one table of query -> the names it finds, run
// through the search itself, once over an index of folders only (every
// block read) and once over the full trigram index, which must find the same.
// A second table: queries that cannot be read, and where they go wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "search/NameSearch.h"
#include "search/SiteIndex.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"

namespace
{
constexpr uint64_t K = 1024;
constexpr uint64_t M = K * K;
constexpr uint64_t G = K * M;

std::string Gbk(const std::string& strText)
{
    std::string strBytes;
    EXPECT_TRUE(CNameCodec("GB18030").Encode(strText, &strBytes));
    return strBytes;
}

// Collects the names of the hits as text.
class CNameSink : public ISearchSink
{
public:
    bool OnHits(std::span<const CSearchHit> hits) override
    {
        for (const CSearchHit& hit : hits)
        {
            const std::string& strRaw = hit.nType == 1
                                            ? static_cast<CFTPDir*>(hit.pEntry)->m_strName
                                            : static_cast<CFTPFile*>(hit.pEntry)->m_strName;
            m_names.push_back(hit.pSite->GetCodec().Decode(strRaw));
        }
        return true;
    }
    std::vector<std::string> m_names;
};

class QueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_dir.Path());
        m_a.m_strHost = "ftp.example.org";
        m_a.m_strUser = "anonymous";
        m_a.m_strPassword = ANON_PASSWORD;
        m_a.m_strNickname = "镜像站";
        m_a.m_nLoadState = 1;
        CFTPDir* pRoot = m_a.m_pRoot.get();
        CFTPDir* pPub = AddDir(pRoot, "pub");
        AddDir(pRoot, "iso");
        CFTPDir* pArchive = AddDir(pRoot, "Archive");
        CFTPFile* pLinux5 = AddFile(pPub, "linux-5.4.tar.gz", 170 * M);
        AddFile(pPub, "linux-6.1.tar.xz", 128 * M);
        AddFile(pPub, "ubuntu-22.04-desktop-amd64.iso", 3 * G + 512 * M);
        CFTPFile* pDebian = AddFile(pPub, "debian-12.iso", 650 * M);
        CFTPFile* pReadme = AddFile(pPub, "README", 1024);
        CFTPFile* pReadmeTxt = AddFile(pPub, "readme.txt", 10);
        AddFile(pPub, "a|b.txt", 1);
        AddFile(pPub, "x<y>.txt", 2);
        AddFile(pPub, "!important.doc", 3);
        AddFile(pPub, "my file.txt", 4);
        AddFile(pPub, "C++ Primer.pdf", 5 * M);
        AddFile(pPub, "Straße.txt", 100);
        AddFile(pPub, "STRASSE-plan.doc", 200);
        AddFile(pPub, "ÉCOLE.txt", 300);
        CFTPDir* pBeta = AddDir(pPub, "beta", 1);
        AddFile(pBeta, "img-beta.img", M);
        AddFile(pBeta, "tools.img", M + M / 2);
        CFTPDir* pDocs = AddDir(pPub, "docs");
        AddFile(pDocs, "guide.pdf", 20 * M, 1);
        AddFile(pDocs, "中文资料.txt", 700);
        AddFile(pDocs, "软件包-1.2.3.zip", 10 * M);
        CFTPFile* pOld = AddFile(pArchive, "old.iso", 700 * M);
        CFTPFile* pBackup = AddFile(pArchive, "backup.7z", 5);
        AddFile(pArchive, "noext", 6);
        AddFile(pArchive, "linux-1.0.tar.gz", 7);

        // Times for dm:, now's relative to the clock (in UTC or as the
        // server's wall clock), the others fixed; the rest have none.
        const int64_t nNow = NowSeconds();
        const int64_t nTodayWall = WallSeconds(CModTime(nNow, TimePrecision::second, true));
        const int64_t nYesterdayNoon = nTodayWall - nTodayWall % 86400 - 86400 / 2;
        pReadme->m_time = CModTime(nNow, TimePrecision::second, true);
        pReadmeTxt->m_time = CModTime(nYesterdayNoon, TimePrecision::minute, false);
        pDebian->m_time = CModTime(nNow - 5 * 86400, TimePrecision::second, true);
        pLinux5->m_time = CModTime(CivilToSeconds(2025, 12, 15, 10, 0), TimePrecision::minute, false);
        pOld->m_time = CModTime(CivilToSeconds(2026, 1, 1), TimePrecision::day, false);
        pBackup->m_time = CModTime(CivilToSeconds(2024, 2, 29, 23, 59), TimePrecision::minute, false);
        pArchive->m_time = CModTime(CivilToSeconds(2026, 6, 30, 23, 0), TimePrecision::minute, false);

        m_b.m_strHost = "gbk.example.org";
        m_b.m_strUser = "anonymous";
        m_b.m_strPassword = ANON_PASSWORD;
        m_b.m_nLoadState = 1;
        m_b.UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "GB18030"); });
        CFTPDir* pData = AddDir(m_b.m_pRoot.get(), Gbk("资料"));
        AddFile(pData, Gbk("发布说明.txt"), 8);
        AddFile(pData, Gbk("软件-1.0.exe"), 9);
        CFTPDir* pMedia = AddDir(pData, Gbk("影音"));
        AddFile(pMedia, Gbk("电影.mkv"), 2 * G, 1);
        AddFile(pData, "Readme.GBK.txt", 11);
    }

    std::vector<std::string> Find(const std::string& strQuery)
    {
        CQueryError error;
        std::shared_ptr<const CQuery> pQuery = CQuery::Parse(strQuery, &error);
        EXPECT_NE(pQuery, nullptr) << strQuery << ": " << FormatQueryError(error, false);
        if (pQuery == nullptr)
            return {"(unreadable)"};
        CSearchRequest request;
        request.pQuery = pQuery;
        request.sites = {MakeSearchSite(m_a), MakeSearchSite(m_b)};
        request.nThreads = 1;
        CNameSink sink;
        std::atomic<bool> stop{false};
        RunNameSearch(request, sink, stop);
        std::sort(sink.m_names.begin(), sink.m_names.end());
        return sink.m_names;
    }

    CTempDir m_dir;
    CFTPSite m_a;
    CFTPSite m_b;
};

std::vector<std::string> Split(const std::string& strList)
{
    std::vector<std::string> names;
    std::string strName;
    std::istringstream in(strList);
    while (std::getline(in, strName, ','))
    {
        if (!strName.empty())
            names.push_back(strName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

constexpr const char* ALL = "*ALL*";

struct CRow
{
    const char* pszQuery;
    const char* pszFound; // names joined by ",", or ALL
};

const std::string LINUX = "linux-5.4.tar.gz,linux-6.1.tar.xz,linux-1.0.tar.gz";
const std::string ISO_FILES = "ubuntu-22.04-desktop-amd64.iso,debian-12.iso,old.iso";
const std::string TXT_FILES = "a|b.txt,x<y>.txt,my file.txt,Straße.txt,ÉCOLE.txt,readme.txt,"
                              "中文资料.txt,发布说明.txt,Readme.GBK.txt";
const std::string SITE_B = "资料,发布说明.txt,软件-1.0.exe,影音,电影.mkv,Readme.GBK.txt";
const std::string ISO_IMG = ISO_FILES + ",img-beta.img,tools.img";
const std::string TXT_DOC = TXT_FILES + ",!important.doc,STRASSE-plan.doc";
const std::string SITE_B_LINUX5 = SITE_B + ",linux-5.4.tar.gz";

const CRow ROWS[] = {
    // Words: case-insensitive substrings, all must match.
    {"linux", LINUX.c_str()},
    {"LINUX", LINUX.c_str()},
    {"Linux", LINUX.c_str()},
    {"linux tar", LINUX.c_str()},
    {"linux xz", "linux-6.1.tar.xz"},
    {"linux 5.4", "linux-5.4.tar.gz"},
    {"  linux   5.4  ", "linux-5.4.tar.gz"},
    {"iso", "ubuntu-22.04-desktop-amd64.iso,debian-12.iso,old.iso,iso"},
    {"readme", "README,readme.txt,Readme.GBK.txt"},
    {"amd64 desktop ubuntu", "ubuntu-22.04-desktop-amd64.iso"},
    {"zzz", ""},
    {"linux zzz", ""},
    {"li", LINUX.c_str()},
    {"7", "backup.7z"},
    // Unicode: full case folding, decoded names of both character sets.
    {"straße", "Straße.txt,STRASSE-plan.doc"},
    {"STRASSE", "Straße.txt,STRASSE-plan.doc"},
    {"école", "ÉCOLE.txt"},
    {"ÉCOLE", "ÉCOLE.txt"},
    {"中文", "中文资料.txt"},
    {"资料", "中文资料.txt,资料"},
    {"软件", "软件包-1.2.3.zip,软件-1.0.exe"},
    {"发布", "发布说明.txt"},
    {"影音", "影音"},
    {"电影", "电影.mkv"},
    {"gbk", "Readme.GBK.txt"},
    {"说明 txt", "发布说明.txt"},
    // case:
    {"case:README", "README"},
    {"case:readme", "readme.txt"},
    {"case:Readme", "Readme.GBK.txt"},
    {"case:école", ""},
    {"case:ÉCOLE", "ÉCOLE.txt"},
    {"CASE:README", "README"},
    {"case:\"README\"", "README"},
    {"case:资料", "中文资料.txt,资料"},
    // OR binds the words beside it; blanks around "|" are allowed.
    {"iso|img", "ubuntu-22.04-desktop-amd64.iso,debian-12.iso,old.iso,iso,img-beta.img,tools.img"},
    {"xz | 7z", "linux-6.1.tar.xz,backup.7z"},
    {"debian|ubuntu", "ubuntu-22.04-desktop-amd64.iso,debian-12.iso"},
    {"中文|发布", "中文资料.txt,发布说明.txt"},
    {"linux xz|gz", LINUX.c_str()},
    {"linux 5.4|6.1", "linux-5.4.tar.gz,linux-6.1.tar.xz"},
    {"zzz|yyy", ""},
    // NOT.
    {"linux !xz", "linux-5.4.tar.gz,linux-1.0.tar.gz"},
    {"iso !ubuntu !debian", "old.iso,iso"},
    {"img !beta", "tools.img"},
    {"txt !readme", "a|b.txt,x<y>.txt,my file.txt,Straße.txt,ÉCOLE.txt,中文资料.txt,发布说明.txt"},
    {"!!xz", "linux-6.1.tar.xz"},
    {"linux !<xz|gz>", ""},
    // Groups.
    {"<iso|img> !beta", "ubuntu-22.04-desktop-amd64.iso,debian-12.iso,old.iso,iso,tools.img"},
    {"<linux|debian> <gz|iso>", "linux-5.4.tar.gz,linux-1.0.tar.gz,debian-12.iso"},
    {"<xz>", "linux-6.1.tar.xz"},
    {"< xz | 7z >", "linux-6.1.tar.xz,backup.7z"},
    {"<<xz>>", "linux-6.1.tar.xz"},
    {"<linux 5.4>|backup", "linux-5.4.tar.gz,backup.7z"},
    {"a<xz>", "linux-6.1.tar.xz"},
    // Quotes: operator characters and blanks as text.
    {"\"a|b\"", "a|b.txt"},
    {"\"x<y>\"", "x<y>.txt"},
    {"\"!important\"", "!important.doc"},
    {"\"my file\"", "my file.txt"},
    {"my file", "my file.txt"},
    {"\"C++\"", "C++ Primer.pdf"},
    {"c++", "C++ Primer.pdf"},
    {"\"*\"", ""},
    {"\"5.4\"", "linux-5.4.tar.gz"},
    {"\"-?.\"", ""},
    {"linux-\"5\"", "linux-5.4.tar.gz"},
    {"important!", ""},
    // Wildcards: the whole name.
    {"*.iso", ISO_FILES.c_str()},
    {"*.ISO", ISO_FILES.c_str()},
    {"linux-?.?.tar.gz", "linux-5.4.tar.gz,linux-1.0.tar.gz"},
    {"linux-*", LINUX.c_str()},
    {"*.tar.*", LINUX.c_str()},
    {"readme*", "README,readme.txt,Readme.GBK.txt"},
    {"?????", "noext"},
    {"??", "影音,资料"},
    {"*", ALL},
    {"**", ALL},
    {"*资料*", "中文资料.txt,资料"},
    {"case:*.TXT", ""},
    {"case:*.txt", TXT_FILES.c_str()},
    {"*.iso !*ubuntu*", "debian-12.iso,old.iso"},
    {"iso*", "iso"},
    {"*2*.iso", "ubuntu-22.04-desktop-amd64.iso,debian-12.iso"},
    // ext: files only.
    {"ext:iso", ISO_FILES.c_str()},
    {"ext:iso;img", ISO_IMG.c_str()},
    {"ext:ISO", ISO_FILES.c_str()},
    {"ext:.gz", "linux-5.4.tar.gz,linux-1.0.tar.gz"},
    {"ext:txt;doc", TXT_DOC.c_str()},
    {"ext:mkv", "电影.mkv"},
    {"ext:7z", "backup.7z"},
    {"ext:c", ""},
    {"ext:gz linux-5", "linux-5.4.tar.gz"},
    {"ext:gz;c", "linux-5.4.tar.gz,linux-1.0.tar.gz"},
    // size: powers of 1,024; files only.
    {"size:>700M", "ubuntu-22.04-desktop-amd64.iso,电影.mkv"},
    {"size:>=700M", "ubuntu-22.04-desktop-amd64.iso,电影.mkv,old.iso"},
    {"size:<=1.5G iso", "debian-12.iso,old.iso"},
    {"size:1M..10M", "img-beta.img,tools.img,C++ Primer.pdf,软件包-1.2.3.zip"},
    {"size:1M", "img-beta.img"},
    {"size:=1.5M", "tools.img"},
    {"size:<10", "a|b.txt,x<y>.txt,!important.doc,my file.txt,backup.7z,noext,linux-1.0.tar.gz,"
                 "发布说明.txt,软件-1.0.exe"},
    {"size:<10 ext:txt", "a|b.txt,x<y>.txt,my file.txt,发布说明.txt"},
    {"size:>2G", "ubuntu-22.04-desktop-amd64.iso"},
    {"size:>=2g", "ubuntu-22.04-desktop-amd64.iso,电影.mkv"},
    {"size:1024", "README"},
    {"size:1K", "README"},
    {"size:1kb", "README"},
    {"size:1.5m", "tools.img"},
    {"size:>1T", ""},
    {"size:10字节", "readme.txt"},
    {"size:0..3B", "a|b.txt,x<y>.txt,!important.doc"},
    // file: and folder:, alone or with a word.
    {"folder:", "pub,iso,Archive,beta,docs,资料,影音"},
    {"file: size:>1G", "ubuntu-22.04-desktop-amd64.iso,电影.mkv"},
    {"folder:iso", "iso"},
    {"file:iso", ISO_FILES.c_str()},
    {"folder: !<pub|iso>", "Archive,beta,docs,资料,影音"},
    {"folder:*", "pub,iso,Archive,beta,docs,资料,影音"},
    {"file:ext:mkv", "电影.mkv"},
    // path: from the site's root.
    {"path:docs", "docs,guide.pdf,中文资料.txt,软件包-1.2.3.zip"},
    {"path:pub/beta", "beta,img-beta.img,tools.img"},
    {"path:/archive/", "old.iso,backup.7z,noext,linux-1.0.tar.gz"},
    {"path:资料/影音", "影音,电影.mkv"},
    {"path:*.iso", ISO_FILES.c_str()},
    {"case:path:Archive", "Archive,old.iso,backup.7z,noext,linux-1.0.tar.gz"},
    {"case:path:archive", ""},
    {"path:/pub/*/*.img", "img-beta.img,tools.img"},
    {"path:\"/pub/my file\"", "my file.txt"},
    // site: the key or the nickname.
    {"site:gbk", SITE_B.c_str()},
    {"site:镜像 ext:iso", ISO_FILES.c_str()},
    {"site:example ext:iso", ISO_FILES.c_str()},
    {"site:EXAMPLE.ORG ext:mkv", "电影.mkv"},
    {"site:nothere", ""},
    {"!site:gbk ext:mkv", ""},
    {"site:gbk|linux-5", SITE_B_LINUX5.c_str()},
    // unread:
    {"unread:", "beta,guide.pdf,电影.mkv"},
    {"unread: file:", "guide.pdf,电影.mkv"},
    {"unread:guide", "guide.pdf"},
    {"!unread: img", "img-beta.img,tools.img"},
    // regex: RE2 over the name, letter case ignored unless case: comes first.
    {"regex:^linux-\\d\\.\\d", LINUX.c_str()},
    {"regex:\\.(iso|img)$", ISO_IMG.c_str()},
    {"regex:^README$", "README"},
    {"case:regex:^readme", "readme.txt"},
    {"regex:^readme", "README,readme.txt,Readme.GBK.txt"},
    {"regex:^\\p{Han}+$", "影音,资料"},
    {"regex:\"my file\"", "my file.txt"},
    {"path:regex:^/pub/docs/", "guide.pdf,中文资料.txt,软件包-1.2.3.zip"},
    {"regex:[0-9]{2}\\.iso$", "ubuntu-22.04-desktop-amd64.iso,debian-12.iso"},
    {"regex:(a+)+$ size:<1", ""},
    {"regex:.", ALL},
    {"regex:^.{2}$", "影音,资料"},
    // A pattern's literals narrow blocks and names through the index: all
    // of them, one of several, beside other terms, letter case, Chinese.
    {"regex:^linux.*tar\\.xz", "linux-6.1.tar.xz"},
    {"regex:(readme|debian)", "README,Readme.GBK.txt,debian-12.iso,readme.txt"},
    {"regex:(readme|debian) !txt", "README,debian-12.iso"},
    {"regex:(guide|tools)\\.(pdf|img) | regex:^backup", "backup.7z,guide.pdf,tools.img"},
    {"regex:(aaa|bbb|ccc|ddd|eee|fff|ggg|hhh|iii|jjj|kkk|lll|mmm|debian)", "debian-12.iso"},
    {"regex:strasse", "STRASSE-plan.doc"},
    {"case:regex:Stra", "Straße.txt"},
    {"regex:école", "ÉCOLE.txt"},
    {"regex:软件.*zip", "软件包-1.2.3.zip"},
    // Empty and blank queries: everything.
    {"", ALL},
    {"   ", ALL},
    {"\t", ALL},
    // Mixed.
    {"linux|debian size:>150M", "linux-5.4.tar.gz,debian-12.iso"},
    {"*.iso|*.img size:<1G", "debian-12.iso,old.iso,img-beta.img,tools.img"},
    {"!ext:txt 资料", "资料"},
    {"file: 资料", "中文资料.txt"},
    {"<site:gbk ext:txt> | <unread: file: !site:gbk>", "发布说明.txt,Readme.GBK.txt,guide.pdf"},
    {"path:pub !path:beta !path:docs ext:doc", "!important.doc,STRASSE-plan.doc"},
    // dm: the local calendar; entries without a time never match.
    {"dm:today", "README"},
    {"dm:Today", "README"},
    {"dm:yesterday", "readme.txt"},
    {"dm:7d", "README,readme.txt,debian-12.iso"},
    {"dm:2025-12", "linux-5.4.tar.gz"},
    {"dm:2025", "linux-5.4.tar.gz"},
    {"dm:2025-12-15", "linux-5.4.tar.gz"},
    {"dm:2025-12-16", ""},
    {"dm:>2026-01-01", "README,readme.txt,debian-12.iso,Archive"},
    {"dm:>=2026-01-01", "README,readme.txt,debian-12.iso,Archive,old.iso"},
    {"dm:2026-01-01..2026-06-30", "old.iso,Archive"},
    {"dm:2026-01..2026-06", "old.iso,Archive"},
    {"dm:<2026", "linux-5.4.tar.gz,backup.7z"},
    {"dm:<=2025-12-15", "linux-5.4.tar.gz,backup.7z"},
    {"dm:2024-02-29", "backup.7z"},
    {"dm:2024-2-29", "backup.7z"},
    {"file: dm:2026-01-01..2026-06-30", "old.iso"},
    {"dm:today | dm:2024", "README,backup.7z"},
    {"iso dm:<yesterday", "debian-12.iso,old.iso"},
    {"!dm:1970..9999 path:archive file:", "noext,linux-1.0.tar.gz"},
};

struct CErrorRow
{
    const char* pszQuery;
    QueryErrorKind nKind;
    size_t nColumn;
};

const CErrorRow ERROR_ROWS[] = {
    {"<a", QueryErrorKind::missingGroupEnd, 1},
    {"a>", QueryErrorKind::strayGroupEnd, 2},
    {"size:>x", QueryErrorKind::badSize, 7},
    {"a |", QueryErrorKind::missingOperand, 4},
    {"!", QueryErrorKind::missingOperand, 2},
    {"a ! b", QueryErrorKind::missingOperand, 4},
    {"<>", QueryErrorKind::emptyGroup, 1},
    {"\"abc", QueryErrorKind::unclosedQuote, 1},
    {"szie:1M", QueryErrorKind::unknownFilter, 1},
    {"ext:", QueryErrorKind::missingArgument, 1},
    {"ext:;", QueryErrorKind::missingArgument, 5},
    {"case:", QueryErrorKind::missingArgument, 1},
    {"path: x", QueryErrorKind::missingArgument, 1},
    {"regex:(", QueryErrorKind::badRegex, 7},
    {"case:size:1M", QueryErrorKind::misplacedModifier, 1},
    {"中文 <a", QueryErrorKind::missingGroupEnd, 4},
    {"size:1M..x", QueryErrorKind::badSize, 6},
    {"size:10M..1M", QueryErrorKind::badSize, 6},
    {"size:>=<5", QueryErrorKind::badSize, 9},
    {"size:1.2.3", QueryErrorKind::badSize, 6},
    {"a || b", QueryErrorKind::missingOperand, 4},
    {"<a|b", QueryErrorKind::missingGroupEnd, 1},
    {"<a <b>", QueryErrorKind::missingGroupEnd, 1},
    {"|a", QueryErrorKind::missingOperand, 1},
    {"x:y", QueryErrorKind::unknownFilter, 1},
    {"dm:2026-13", QueryErrorKind::badDate, 4},
    {"dm:2026-02-29", QueryErrorKind::badDate, 4},
    {"dm:>x", QueryErrorKind::badDate, 5},
    {"dm:>7d", QueryErrorKind::badDate, 5},
    {"dm:26-01-01", QueryErrorKind::badDate, 4},
    {"dm:2026-06..2026-01", QueryErrorKind::badDate, 4},
    {"dm:", QueryErrorKind::missingArgument, 1},
};
} // namespace

TEST_F(QueryTest, TableOverBothIndexes)
{
    std::vector<std::string> all = Find("");
    ASSERT_EQ(all.size(), 34u);
    for (bool bTrigrams : {false, true})
    {
        if (bTrigrams)
        {
            ASSERT_TRUE(BuildSiteIndex(m_a, true));
            ASSERT_TRUE(BuildSiteIndex(m_b, true));
        }
        for (const CRow& row : ROWS)
        {
            std::vector<std::string> expected =
                std::string(row.pszFound) == ALL ? all : Split(row.pszFound);
            EXPECT_EQ(Find(row.pszQuery), expected)
                << "query [" << row.pszQuery << "] trigrams " << bTrigrams;
        }
    }
    EXPECT_GE(std::size(ROWS), 100u);
}

TEST_F(QueryTest, UnreadableQueriesSayWhere)
{
    for (const CErrorRow& row : ERROR_ROWS)
    {
        CQueryError error;
        EXPECT_EQ(CQuery::Parse(row.pszQuery, &error), nullptr) << row.pszQuery;
        EXPECT_EQ(error.nKind, row.nKind) << row.pszQuery;
        EXPECT_EQ(error.nColumn, row.nColumn) << row.pszQuery;
        std::string strText = FormatQueryError(error, true);
        EXPECT_NE(strText.find("第 " + std::to_string(row.nColumn) + " 个字符"), std::string::npos)
            << strText;
    }
}

// An index built while the site read its names in another character set is
// not trusted for them: the same query finds what a search without it finds.
TEST_F(QueryTest, AnIndexOfAnotherCharacterSetIsNotTrusted)
{
    CFTPDir* pLatin = AddDir(m_a.m_pRoot.get(), "latin");
    AddFile(pLatin, "\xc4\xe3.txt"); // "你.txt" in GBK, "Äã.txt" in Windows-1252
    ASSERT_TRUE(BuildSiteIndex(m_a, true));
    EXPECT_EQ(Find("你"), std::vector<std::string>{"你.txt"});
    m_a.UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "Windows-1252"); });
    EXPECT_EQ(Find("äã"), std::vector<std::string>{"Äã.txt"});
    EXPECT_EQ(Find("ext:txt ÄÃ"), std::vector<std::string>{"Äã.txt"});
}
