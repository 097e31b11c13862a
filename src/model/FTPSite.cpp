#include "model/FTPSite.h"

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

#include "model/ProgramFolder.h"

namespace
{
CObject* CreateSite()
{
    return new CFTPSite;
}

std::string ContentPath(const std::string& strSiteFolder)
{
    return strSiteFolder + "/content.ct";
}

std::string StatePath(const std::string& strSiteFolder)
{
    return strSiteFolder + "/state.st";
}

// Opens strPath and runs fn over a load-mode archive; a missing or empty file
// leaves everything as it was, and any read error keeps what was read.
// False only when the file was there but could not be read to its end.
template <class Fn> bool LoadFile(const std::string& strPath, Fn fn)
{
    CDiskFile file;
    if (!file.OpenRead(strPath) || file.GetLength() == 0)
        return true;
    try
    {
        CArchive ar(&file, CArchive::load);
        fn(ar);
    }
    catch (const CArchiveException&)
    {
        return false;
    }
    catch (const CFileException&)
    {
        return false;
    }
    return true;
}

// Writes strPath through a temporary file renamed over it; a file that cannot
// be created is skipped; a write error propagates and the old file stays.
template <class Fn> void SaveFile(const std::string& strPath, Fn fn)
{
    CAtomicFileWriter writer;
    if (!writer.Open(strPath))
        return;
    CArchive ar(writer.GetFile(), CArchive::store);
    fn(ar);
    ar.Close();
    writer.Commit();
}
} // namespace

const CRuntimeClass* CFTPSite::GetThisClass()
{
    static const CRuntimeClass s_class{"CFTPSite", 1, &CreateSite};
    return &s_class;
}

CFTPSite::CFTPSite() : m_pRoot(std::make_unique<CFTPDir>())
{
    m_pRoot->m_pSite = this;
}

CFTPSite::~CFTPSite() = default;

void CFTPSite::Serialize(CArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << m_strHost << m_strPassword << m_strUser << m_nPort << m_bAnonUpdate << m_strNickname
           << m_strRemark;
    }
    else
    {
        ar >> m_strHost >> m_strPassword >> m_strUser >> m_nPort >> m_bAnonUpdate >>
            m_strNickname >> m_strRemark;
    }
}

std::string CFTPSite::GetKey() const
{
    if (IsAnonymous())
        return m_strHost;
    return m_strHost + "@" + m_strUser;
}

std::string CFTPSite::GetDisplayName() const
{
    return m_strNickname.empty() ? GetKey() : m_strNickname;
}

void CFTPSite::LoadContent(const std::string& strProgramFolder)
{
    std::string strPath = ContentPath(GetSiteFolderPath(strProgramFolder, GetKey()));
    std::unique_lock lock(m_treeLock);
    bool bRead = LoadFile(strPath, [this](CArchive& ar) { m_pRoot->Serialize(ar); });
    m_bContentDamaged.store(!bRead);
}

void CFTPSite::SaveContent(const std::string& strProgramFolder)
{
    std::error_code ec;
    std::string strFolder = GetSiteFolderPath(strProgramFolder, GetKey());
    std::filesystem::create_directory(strProgramFolder + "/Data", ec);
    std::filesystem::create_directory(strFolder, ec);
    std::shared_lock lock(m_treeLock);
    SaveFile(ContentPath(strFolder), [this](CArchive& ar) { m_pRoot->Serialize(ar); });
}

void CFTPSite::LoadState(const std::string& strProgramFolder)
{
    std::string strPath = StatePath(GetSiteFolderPath(strProgramFolder, GetKey()));
    std::unique_lock lock(m_treeLock);
    bool bRead = LoadFile(strPath, [this](CArchive& ar) { SerializeState(ar, m_pRoot.get()); });
    m_bStateDamaged.store(!bRead);
}

void CFTPSite::SaveState(const std::string& strProgramFolder)
{
    std::error_code ec;
    std::string strFolder = GetSiteFolderPath(strProgramFolder, GetKey());
    std::filesystem::create_directory(strFolder, ec);
    std::shared_lock lock(m_treeLock);
    SaveFile(StatePath(strFolder), [this](CArchive& ar) { SerializeState(ar, m_pRoot.get()); });
}

void CFTPSite::LoadContent()
{
    LoadContent(GetProgramFolder());
}

void CFTPSite::SaveContent()
{
    SaveContent(GetProgramFolder());
}

void CFTPSite::LoadState()
{
    LoadState(GetProgramFolder());
}

void CFTPSite::SaveState()
{
    SaveState(GetProgramFolder());
}

void CFTPSite::SerializeState(CArchive& ar, CFTPDir* pDir)
{
    // Iterative pre-order walk: a sub-folder's mark, its sub-tree, then the
    // folder's files, exactly the order of content.ct.
    struct Frame
    {
        CFTPDir* pDir;
        size_t nNext;
    };
    std::vector<Frame> stack{{pDir, 0}};
    auto transfer = [&ar](int32_t& nState) {
        if (ar.IsStoring())
            ar << nState;
        else
            ar >> nState;
    };
    while (!stack.empty())
    {
        Frame& top = stack.back();
        if (top.nNext < top.pDir->m_dirList.size())
        {
            CFTPDir* pSub = top.pDir->m_dirList[top.nNext++].get();
            transfer(pSub->m_nState);
            stack.push_back({pSub, 0});
            continue;
        }
        for (auto& pFile : top.pDir->m_fileList)
            transfer(pFile->m_nState);
        stack.pop_back();
    }
}

void CFTPSite::EnsureLoaded()
{
    for (;;)
    {
        int32_t nState = m_nLoadState.load();
        if (nState == 1)
            return;
        if (nState == 2)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if (m_nLoadState.compare_exchange_strong(nState, 2))
        {
            LoadContent();
            LoadState();
            m_nLoadState.store(1);
            return;
        }
    }
}

void CFTPSite::SetStatus(const std::string& strText, int32_t nStatus)
{
    std::lock_guard lock(m_statusLock);
    m_strStatus = strText;
    m_nStatus.store(nStatus);
}

void CFTPSite::SetStatusText(const std::string& strText)
{
    std::lock_guard lock(m_statusLock);
    m_strStatus = strText;
}

std::string CFTPSite::GetStatusText() const
{
    std::lock_guard lock(m_statusLock);
    return m_strStatus;
}

std::string GetSiteFolderName(const std::string& strKey)
{
    if (strKey.empty())
        return "%";
    if (strKey == ".")
        return "%2E";
    if (strKey == "..")
        return "%2E%2E";
    if (strKey.find_first_of(std::string_view("/\0", 2)) == std::string::npos)
        return strKey;
    std::string str;
    str.reserve(strKey.size() + 8);
    for (char c : strKey)
    {
        if (c == '/')
            str += "%2F";
        else if (c == '\0')
            str += "%00";
        else
            str += c;
    }
    return str;
}

std::string GetSiteFolderPath(const std::string& strProgramFolder, const std::string& strKey)
{
    return strProgramFolder + "/Data/" + GetSiteFolderName(strKey);
}
