#include "model/FTPSite.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "model/IsoTime.h"
#include "model/ProgramFolder.h"
#include "model/TimesFile.h"

namespace
{
constexpr const char* CONTENT_FILE = "content.ct";
constexpr const char* STATE_FILE = "state.st";
// The files a save replaces as one, the pair first. A file that describes
// the tree as saved belongs here: it is then saved, finished after a crash
// and removed together with the pair.
constexpr const char* GROUP_FILES[] = {CONTENT_FILE, STATE_FILE, SITE_TIMES_FILE,
                                        SITE_CHANGES_BATCH_FILE};
// A pending replacement is recorded in "pair.intent.tmp<pid>.<n>": one line
// per file, its temporary file, content.ct's and state.st's first.
constexpr std::string_view RECORD_NAME = "pair.intent";
// How often a load opens the pair again while another process replaces it.
constexpr int PAIR_OPEN_TRIES = 100;

CObject* CreateSite()
{
    return new CFTPSite;
}

std::atomic<SaveStepHook> g_pfnSaveStepHook{nullptr};
std::atomic<OptionsSaveHook> g_pfnOptionsSaveHook{nullptr};

void SaveStep(int nStep)
{
    if (SaveStepHook pfn = g_pfnSaveStepHook.load())
        pfn(nStep);
}

// Saves and loads of one folder never overlap within the process: two sites
// may share a key, and so a folder.
std::mutex& FolderMutex(const std::string& strFolder)
{
    static std::mutex s_mutexes[16];
    return s_mutexes[std::hash<std::string>{}(strFolder) % std::size(s_mutexes)];
}

std::string OldSiteFolderName(const std::string& strKey);
bool IsSiteFolderName(const std::string& strName);

// A "%" key's folder was named without escaping "%" before; it moves to the
// key's name now on first use, unless some key has that old name now.
void MoveOldSiteFolder(const std::string& strProgramFolder, const std::string& strKey)
{
    if (strKey.find('%') == std::string::npos)
        return;
    std::string strOld = OldSiteFolderName(strKey);
    if (IsSiteFolderName(strOld))
        return;
    std::string strData = strProgramFolder + "/Data/";
    std::error_code ec;
    if (!std::filesystem::is_directory(strData + strOld, ec) ||
        std::filesystem::exists(strData + GetSiteFolderName(strKey), ec))
        return;
    std::filesystem::rename(strData + strOld, strData + GetSiteFolderName(strKey), ec);
}

// The site folder of a save, with Data/, created when missing.
std::string SaveFolder(const std::string& strProgramFolder, const std::string& strKey)
{
    MoveOldSiteFolder(strProgramFolder, strKey);
    CreateFolder(strProgramFolder + "/Data");
    std::string strFolder = GetSiteFolderPath(strProgramFolder, strKey);
    CreateFolder(strFolder);
    return strFolder;
}

template <class Fn> CMemFile Store(Fn fn)
{
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    fn(ar);
    ar.Close();
    return file;
}

// Writes bytes into a new temporary file for strTarget, synced and closed.
void WriteTemp(CAtomicFileWriter& writer, const std::string& strTarget, const void* pBytes,
               size_t nSize)
{
    writer.OpenOrThrow(strTarget);
    writer.GetFile()->Write(pBytes, nSize);
    writer.Finish();
}

void WriteTemp(CAtomicFileWriter& writer, const std::string& strTarget, const CMemFile& bytes)
{
    WriteTemp(writer, strTarget, bytes.GetBytes().data(), bytes.GetBytes().size());
}

// Reads an opened file through fn. A file that is not there or empty leaves
// everything as it was; false when the file could not be read to its end
// (damaged, or memory ran out): what was read stays.
template <class Fn> bool LoadFrom(CDiskFile& file, Fn fn)
{
    if (!file.IsOpen() || file.GetLength() == 0)
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
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return true;
}

// The bytes of an opened file (none when it is not open); false when it
// could not be read.
bool ReadWhole(CDiskFile& file, std::string* pstrBytes)
{
    pstrBytes->clear();
    if (!file.IsOpen())
        return true;
    try
    {
        pstrBytes->resize(file.GetLength());
        return file.Read(pstrBytes->data(), pstrBytes->size()) == pstrBytes->size();
    }
    catch (const CFileException&)
    {
        return false;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

std::string BaseName(const std::string& strPath)
{
    return strPath.substr(strPath.rfind('/') + 1);
}

bool IsTempOf(const std::string& strName, std::string_view strTarget)
{
    std::string_view target;
    pid_t nPid = 0;
    return SplitTempName(strName, &target, &nPid) && target == strTarget;
}

// The file a temporary of a save replaces, or null when it is none of them.
const char* GroupFileOf(const std::string& strTemp)
{
    for (const char* pszName : GROUP_FILES)
    {
        if (IsTempOf(strTemp, pszName))
            return pszName;
    }
    return nullptr;
}

// The temporaries a record names, in its order.
using CRecordNames = std::vector<std::string>;

// The temporary that replaces pszTarget, or "".
std::string TempFor(const CRecordNames& names, const char* pszTarget)
{
    for (const std::string& strTemp : names)
    {
        if (IsTempOf(strTemp, pszTarget))
            return strTemp;
    }
    return {};
}

// False for a record cut short or naming anything else.
bool ReadRecord(const std::string& strPath, CRecordNames* pNames)
{
    char szText[2048];
    size_t nRead = 0;
    try
    {
        CDiskFile file;
        if (!file.OpenRead(strPath))
            return false;
        nRead = file.Read(szText, sizeof(szText));
    }
    catch (const CFileException&)
    {
        return false;
    }
    std::string_view strText(szText, nRead);
    if (strText.empty() || strText.back() != '\n')
        return false;
    pNames->clear();
    std::vector<const char*> targets;
    for (size_t nEnd; (nEnd = strText.find('\n')) != std::string_view::npos;)
    {
        std::string strTemp(strText.substr(0, nEnd));
        strText.remove_prefix(nEnd + 1);
        const char* pszTarget = GroupFileOf(strTemp);
        if (pszTarget == nullptr ||
            std::find(targets.begin(), targets.end(), pszTarget) != targets.end())
            return false;
        targets.push_back(pszTarget);
        pNames->push_back(std::move(strTemp));
    }
    // Every record names the pair, first.
    return pNames->size() >= 2 && targets[0] == CONTENT_FILE && targets[1] == STATE_FILE;
}

// Writes the record of a replacement, synced with its folder entry.
void WriteRecordFile(const std::string& strPath, const CRecordNames& names)
{
    std::string strText;
    for (const std::string& strTemp : names)
        strText += strTemp + "\n";
    CDiskFile file;
    if (!file.OpenWrite(strPath))
        throw CFileException::FromErrno(errno, strPath);
    try
    {
        file.Write(strText.data(), strText.size());
        file.Sync();
        file.Close();
        SyncFolder(strPath.substr(0, strPath.rfind('/')));
    }
    catch (...)
    {
        file.Close();
        ::unlink(strPath.c_str());
        throw;
    }
}

// Completes the replacement a record names (both temporaries were on disk
// before it was written; one that is gone was renamed already), or drops a
// record cut short. The record stays when the disk refuses, for next time.
void FinishRecord(const std::string& strFolder, const std::string& strRecord)
{
    CRecordNames names;
    if (ReadRecord(strFolder + "/" + strRecord, &names))
    {
        for (const std::string& strTemp : names)
        {
            std::string strFrom = strFolder + "/" + strTemp;
            std::string strTo = strFolder + "/" + GroupFileOf(strTemp);
            if (::rename(strFrom.c_str(), strTo.c_str()) != 0 && errno != ENOENT)
                return;
        }
        try
        {
            SyncFolder(strFolder);
        }
        catch (const CFileException&)
        {
            return;
        }
    }
    ::unlink((strFolder + "/" + strRecord).c_str());
}

// Joins a change batch that a save left beside the log (a crash or a full
// disk came between the two), once no other process is joining it.
void JoinLeftBatch(const std::string& strFolder)
{
    std::error_code ec;
    if (!std::filesystem::exists(strFolder + "/" + SITE_CHANGES_BATCH_FILE, ec))
        return;
    try
    {
        CChangeLogLock lock(strFolder, true);
        JoinChangeBatch(strFolder);
    }
    catch (const CFileException&)
    {
        // Still no room: readers show the batch, a later save joins it.
    }
}

// What crashed saves left in a site folder: records are finished, then
// temporaries whose writers are gone are removed, and a change batch joins
// the log. A running process's temporaries stay; this process's own records
// are a failed save's, as no other save of the folder runs here meanwhile
// (the caller holds its mutex).
void RecoverFolder(const std::string& strFolder)
{
    std::vector<std::string> records;
    std::vector<std::string> temps;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(strFolder, ec), end; !ec && it != end;
         it.increment(ec))
    {
        std::string strName = it->path().filename().string();
        std::string_view target;
        pid_t nPid = 0;
        if (!SplitTempName(strName, &target, &nPid))
            continue;
        bool bOwn = nPid == ::getpid();
        if (target == RECORD_NAME && (bOwn || !IsProcessAlive(nPid)))
            records.push_back(std::move(strName));
        else if (target != RECORD_NAME && !bOwn && !IsProcessAlive(nPid))
            temps.push_back(std::move(strName));
    }
    for (const std::string& strRecord : records)
        FinishRecord(strFolder, strRecord);
    for (const std::string& strTemp : temps)
        ::unlink((strFolder + "/" + strTemp).c_str());
    JoinLeftBatch(strFolder);
}

// The record of a replacement that a running process is making, or "".
std::string FindRecord(const std::string& strFolder)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(strFolder, ec), end; !ec && it != end;
         it.increment(ec))
    {
        std::string strName = it->path().filename().string();
        if (IsTempOf(strName, RECORD_NAME))
            return strName;
    }
    return {};
}

// Opens content.ct and state.st as one pair while another process (which
// holds the data folder's lock, unlike a reader) may be replacing them:
// through that writer's record, or, without one, once both names still
// lead to the files opened.
void OpenPair(const std::string& strFolder, CDiskFile& content, CDiskFile& state, CDiskFile& times)
{
    const std::string strContent = strFolder + "/" + CONTENT_FILE;
    const std::string strState = strFolder + "/" + STATE_FILE;
    const std::string strTimes = strFolder + "/" + SITE_TIMES_FILE;
    for (int nTry = 1;; ++nTry)
    {
        std::string strRecord = FindRecord(strFolder);
        CRecordNames names;
        bool bNamed = !strRecord.empty() && ReadRecord(strFolder + "/" + strRecord, &names);
        if (!bNamed || !content.OpenRead(strFolder + "/" + TempFor(names, CONTENT_FILE)))
            (void)content.OpenRead(strContent);
        if (!bNamed || !state.OpenRead(strFolder + "/" + TempFor(names, STATE_FILE)))
            (void)state.OpenRead(strState);
        // A record without times (an older program's) leaves times.bin to
        // a tree it does not describe: none then.
        times.Close();
        if (!bNamed)
            (void)times.OpenRead(strTimes);
        else if (std::string strTemp = TempFor(names, SITE_TIMES_FILE); !strTemp.empty())
            (void)(times.OpenRead(strFolder + "/" + strTemp) || times.OpenRead(strTimes));
        bool bSteady =
            FindRecord(strFolder) == strRecord &&
            (bNamed || (content.IsSameFileAs(strContent) && state.IsSameFileAs(strState) &&
                        times.IsSameFileAs(strTimes)));
        if (bSteady || nTry == PAIR_OPEN_TRIES)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Loads content.ct, state.st or both of the site, as one pair.
void LoadPair(CFTPSite& site, const std::string& strProgramFolder, bool bContent, bool bState)
{
    const std::string strKey = site.GetKey();
    MoveOldSiteFolder(strProgramFolder, strKey);
    const std::string strFolder = GetSiteFolderPath(strProgramFolder, strKey);
    CDiskFile content;
    CDiskFile state;
    CDiskFile times;
    {
        // Once open, the files stay what they are whatever a save does next.
        std::lock_guard folderLock(FolderMutex(strFolder));
        RecoverFolder(strFolder);
        OpenPair(strFolder, content, state, times);
    }
    std::unique_lock lock(site.m_treeLock);
    if (bContent)
    {
        bool bContentRead =
            LoadFrom(content, [&site](CArchive& ar) { site.m_pRoot->Serialize(ar); });
        site.m_bContentDamaged.store(!bContentRead);
        // The root stands for the server's "/", whatever a foreign file calls it.
        site.m_pRoot->m_strName.clear();
        std::string strTimes;
        if (bContentRead && !ReadWhole(times, &strTimes))
            strTimes.clear();
        site.m_bTimesDamaged.store(
            !ApplyTimesFile(strTimes, *site.m_pRoot, content.IsOpen() ? content.GetLength() : 0));
    }
    if (bState)
        site.m_bStateDamaged.store(!LoadFrom(state, [&site](CArchive& ar)
                                             { site.SerializeState(ar, site.m_pRoot.get()); }));
}

// The files of one save, replaced as one: each is written to a temporary
// file, then a record naming them all; from the record on, a crash is
// finished by the next load or save of the folder (FinishRecord). Optional
// files give way when the disk is short: the pair goes on without them.
class CGroupSave
{
public:
    explicit CGroupSave(std::string strFolder) : m_strFolder(std::move(strFolder)) {}

    // Raises CFileException.
    void Write(const char* pszName, const void* pBytes, size_t nSize)
    {
        m_files.push_back({pszName, std::make_unique<CAtomicFileWriter>()});
        WriteTemp(*m_files.back().pWriter, m_strFolder + "/" + pszName, pBytes, nSize);
    }
    // False, with why in *pstrError, when the disk refuses it.
    bool WriteOptional(const char* pszName, std::string_view bytes, std::string* pstrError)
    {
        try
        {
            Write(pszName, bytes.data(), bytes.size());
            m_files.back().bOptional = true;
            return true;
        }
        catch (const CFileException& e)
        {
            m_files.pop_back(); // its temporary goes
            *pstrError = e.what();
            return false;
        }
    }
    // Writes the bytes, or, when the disk refuses them (now, or when the
    // record needs their room), an empty file in their place: it takes no
    // room, and the file never outlives the tree it described. Raises
    // CFileException when not even that fits.
    void WriteOrEmpty(const char* pszName, std::string_view bytes)
    {
        try
        {
            Write(pszName, bytes.data(), bytes.size());
            m_files.back().bOptional = true;
            m_files.back().bEmptyInstead = true;
        }
        catch (const CFileException&)
        {
            m_files.pop_back(); // its temporary goes
            Write(pszName, "", 0);
        }
    }
    // Writes the record; if only leaving the optional files out makes room
    // for it, they are left out (why in *pstrError). Raises CFileException.
    void WriteRecord(std::string* pstrError)
    {
        m_strRecord = MakeTempName(m_strFolder + "/" + std::string(RECORD_NAME));
        try
        {
            WriteRecordFile(m_strRecord, Names());
        }
        catch (const CFileException& e)
        {
            if (std::none_of(m_files.begin(), m_files.end(),
                             [](const CMember& member) { return member.bOptional; }))
                throw;
            *pstrError = e.what();
            std::vector<const char*> empties;
            for (const CMember& member : m_files)
            {
                if (member.bEmptyInstead)
                    empties.push_back(member.pszName);
            }
            std::erase_if(m_files, [](const CMember& member) { return member.bOptional; });
            for (const char* pszName : empties)
                Write(pszName, "", 0);
            WriteRecordFile(m_strRecord, Names());
        }
        for (CMember& member : m_files)
            member.pWriter->Keep();
    }
    bool Holds(const char* pszName) const
    {
        return std::any_of(m_files.begin(), m_files.end(),
                           [pszName](const CMember& member)
                           { return std::string_view(member.pszName) == pszName; });
    }
    // Renames every file over its target, then removes the record.
    void Replace()
    {
        for (size_t i = 0; i < m_files.size(); ++i)
        {
            m_files[i].pWriter->Commit();
            if (i < 2)
                SaveStep(6 + static_cast<int>(i)); // content.ct, state.st
        }
        SyncFolder(m_strFolder);
        SaveStep(8);
        ::unlink(m_strRecord.c_str());
        SaveStep(9);
    }

private:
    struct CMember
    {
        const char* pszName;
        std::unique_ptr<CAtomicFileWriter> pWriter;
        bool bOptional = false;
        bool bEmptyInstead = false; // left out as an empty file, not dropped
    };

    CRecordNames Names() const
    {
        CRecordNames names;
        for (const CMember& member : m_files)
            names.push_back(BaseName(member.pWriter->GetTempPath()));
        return names;
    }
    std::string m_strFolder;
    std::vector<CMember> m_files;
    std::string m_strRecord;
};

// Replaces one file of the pair on its own.
template <class Fn>
void SaveAlone(CFTPSite& site, const std::string& strProgramFolder, const char* pszFile, Fn fn)
{
    CMemFile bytes;
    {
        std::shared_lock lock(site.m_treeLock);
        bytes = Store(fn);
    }
    const std::string strFolder = SaveFolder(strProgramFolder, site.GetKey());
    std::lock_guard folderLock(FolderMutex(strFolder));
    RecoverFolder(strFolder);
    CAtomicFileWriter writer;
    WriteTemp(writer, strFolder + "/" + pszFile, bytes);
    // A new content.ct alone has no times: the old ones go first.
    if (std::string_view(pszFile) == CONTENT_FILE)
        ::unlink((strFolder + "/" + SITE_TIMES_FILE).c_str());
    writer.Commit();
}
} // namespace

void SetSaveStepHook(SaveStepHook pfnHook)
{
    g_pfnSaveStepHook.store(pfnHook);
}

void SetOptionsSaveHook(OptionsSaveHook pfnHook)
{
    g_pfnOptionsSaveHook.store(pfnHook);
}

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
    // Campus hosts often run several servers: each port is a site of its own.
    std::string strKey = m_strHost;
    if (m_nPort != FTP_PORT)
        strKey += ":" + std::to_string(m_nPort);
    if (IsAnonymous())
        return strKey;
    return strKey + "@" + m_strUser;
}

CFTPSite::CConnectionValues CFTPSite::CopyConnectionValues() const
{
    std::lock_guard lock(m_connectionLock);
    return {m_strHost, m_strUser, m_strPassword, GetKey(), m_nPort, m_bAnonUpdate};
}

void CFTPSite::AssignConnectionValues(const CFTPSite& from)
{
    // Only what changed is written: an update's worker reads these without
    // the lock, so they must not even be rewritten with their own text.
    auto assign = [](auto& field, const auto& value)
    {
        if (field != value)
            field = value;
    };
    std::lock_guard lock(m_connectionLock);
    assign(m_strHost, from.m_strHost);
    assign(m_strUser, from.m_strUser);
    assign(m_strPassword, from.m_strPassword);
    assign(m_nPort, from.m_nPort);
    assign(m_bAnonUpdate, from.m_bAnonUpdate);
}

std::string CFTPSite::GetPortlessKey() const
{
    if (IsAnonymous())
        return m_strHost;
    return m_strHost + "@" + m_strUser;
}

std::string CFTPSite::GetDisplayName() const
{
    // A site.ds written on a Chinese system holds GBK bytes.
    return DecodeAuto(m_strNickname.empty() ? GetKey() : m_strNickname);
}

void CFTPSite::SaveTree(const std::string& strProgramFolder)
{
    std::lock_guard saveLock(m_saveLock);
    // Serialised under the lock, written without it: the GUI never waits
    // for the disk. The change lines are taken with the tree they describe.
    CMemFile content;
    CMemFile state;
    std::string strTimes;
    CUnsavedChanges::CTaken changes;
    {
        std::shared_lock lock(m_treeLock);
        content = Store([this](CArchive& ar) { m_pRoot->Serialize(ar); });
        state = Store([this](CArchive& ar) { SerializeState(ar, m_pRoot.get()); });
        strTimes = BuildTimesFile(*m_pRoot, content.GetBytes().size());
        changes = m_unsavedChanges.Take(FormatIsoTime(std::chrono::system_clock::now()));
        m_bContentDirty.store(false);
    }
    SaveStep(1);
    try
    {
        const std::string strFolder = SaveFolder(strProgramFolder, GetKey());
        std::lock_guard folderLock(FolderMutex(strFolder));
        RecoverFolder(strFolder);
        CGroupSave save(strFolder);
        save.Write(CONTENT_FILE, content.GetBytes().data(), content.GetBytes().size());
        SaveStep(2);
        save.Write(STATE_FILE, state.GetBytes().data(), state.GetBytes().size());
        SaveStep(3);
        // The pair has the room first; times that do not fit are lost, never
        // left to another tree.
        save.WriteOrEmpty(SITE_TIMES_FILE, strTimes);
        // Written after the pair, so the pair has the disk's room first.
        // The log stays locked until the batch has joined it.
        std::optional<CChangeLogLock> logLock;
        std::string strLogError;
        if (!changes.IsEmpty())
        {
            logLock.emplace(strFolder, true);
            try
            {
                (void)save.WriteOptional(SITE_CHANGES_BATCH_FILE,
                                         MakeChangeBatch(strFolder, changes.strLines),
                                         &strLogError);
            }
            catch (const CFileException& e)
            {
                strLogError = e.what();
            }
        }
        SaveStep(4);
        save.WriteRecord(&strLogError);
        // From here on the files are replaced even if the process dies: the
        // next load or save finishes what the record names.
        bool bBatch = save.Holds(SITE_CHANGES_BATCH_FILE);
        if (bBatch)
            m_unsavedChanges.Drop(changes);
        SaveStep(5);
        save.Replace();
        if (bBatch)
        {
            try
            {
                JoinChangeBatch(strFolder, CHANGE_LOG_LIMIT,
                                [](int nStep) { SaveStep(9 + nStep); });
            }
            catch (const CFileException& e)
            {
                // Readers show the batch; the next load or save joins it.
                strLogError = e.what();
            }
        }
        m_unsavedChanges.SetError(strLogError);
    }
    catch (...)
    {
        m_bContentDirty.store(true);
        throw;
    }
}

void CFTPSite::SaveTree()
{
    SaveTree(GetProgramFolder());
}

void CFTPSite::SaveState(const std::string& strProgramFolder)
{
    if (m_bContentDirty.load() || !m_unsavedChanges.IsEmpty())
    {
        SaveTree(strProgramFolder);
        return;
    }
    SaveAlone(*this, strProgramFolder, STATE_FILE,
              [this](CArchive& ar) { SerializeState(ar, m_pRoot.get()); });
}

void CFTPSite::SaveState()
{
    SaveState(GetProgramFolder());
}

void CFTPSite::SaveContent(const std::string& strProgramFolder)
{
    SaveAlone(*this, strProgramFolder, CONTENT_FILE,
              [this](CArchive& ar) { m_pRoot->Serialize(ar); });
}

void CFTPSite::SaveContent()
{
    SaveContent(GetProgramFolder());
}

void CFTPSite::LoadContent(const std::string& strProgramFolder)
{
    LoadPair(*this, strProgramFolder, true, false);
}

void CFTPSite::LoadState(const std::string& strProgramFolder)
{
    LoadPair(*this, strProgramFolder, false, true);
}

void CFTPSite::LoadContent()
{
    LoadContent(GetProgramFolder());
}

void CFTPSite::LoadState()
{
    LoadState(GetProgramFolder());
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
    auto transfer = [&ar](int32_t& nState)
    {
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
            // Loaded on every way out: the tree holds what could be read.
            struct CLoadEnd
            {
                std::atomic<int32_t>& nLoadState;
                ~CLoadEnd() { nLoadState.store(1); }
            } end{m_nLoadState};
            LoadPair(*this, GetProgramFolder(), true, true);
            return;
        }
    }
}

void CFTPSite::LoadOptions(bool bRetry) const
{
    {
        std::lock_guard lock(m_optionsLock);
        if (m_options || (m_optionsError && !bRetry))
            return;
    }
    std::string strProgramFolder = GetProgramFolder();
    std::string strKey = GetKey();
    MoveOldSiteFolder(strProgramFolder, strKey);
    std::string strPath = GetSiteFolderPath(strProgramFolder, strKey) + "/" + SITE_OPTIONS_FILE;
    // Read without the lock: a slow disk must not hold up the names being painted.
    std::optional<CSiteOptions> options;
    std::optional<CFileException> error;
    std::vector<size_t> damagedLines;
    try
    {
        options = CSiteOptions::Load(strPath, &damagedLines);
    }
    catch (const CFileException& e)
    {
        error = e;
    }
    std::lock_guard lock(m_optionsLock);
    if (m_options)
        return; // another thread read (or wrote) them meanwhile
    m_options = std::move(options);
    m_optionsError = std::move(error);
    m_damagedOptionLines = std::move(damagedLines);
}

CSiteSettings CFTPSite::GetSettings() const
{
    LoadOptions(false);
    std::lock_guard lock(m_optionsLock);
    return m_options ? CSiteSettings(*m_options) : CSiteSettings();
}

bool CFTPSite::AreSettingsKnown() const
{
    LoadOptions(false);
    std::lock_guard lock(m_optionsLock);
    return m_options.has_value();
}

std::string CFTPSite::CheckOptions()
{
    LoadOptions(true);
    std::lock_guard lock(m_optionsLock);
    return m_options || !m_optionsError ? std::string() : std::string(m_optionsError->what());
}

void CFTPSite::UpdateSettings(const std::function<void(CSiteSettings&)>& fn)
{
    std::lock_guard writeLock(m_optionsWriteLock);
    LoadOptions(true);
    CSiteSettings before;
    {
        std::lock_guard lock(m_optionsLock);
        if (!m_options)
            throw *m_optionsError; // LoadOptions left one of the two
        before = CSiteSettings(*m_options);
    }
    CSiteSettings settings = before;
    fn(settings);
    if (settings == before)
        return;
    std::string strFolder = SaveFolder(GetProgramFolder(), GetKey());
    if (OptionsSaveHook pfn = g_pfnOptionsSaveHook.load())
        pfn(*this);
    settings.GetOptions().Save(strFolder + "/" + SITE_OPTIONS_FILE);
    std::lock_guard lock(m_optionsLock);
    m_options = settings.GetOptions();
}

std::vector<size_t> CFTPSite::TakeDamagedOptionLines()
{
    LoadOptions(false);
    std::lock_guard lock(m_optionsLock);
    return std::exchange(m_damagedOptionLines, {});
}

CNameCodec CFTPSite::GetCodec() const
{
    LoadOptions(false);
    std::lock_guard lock(m_optionsLock);
    return m_options ? CSiteSettings::MakeCodec(*m_options) : CNameCodec();
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

void CFTPSite::NoteRefusedFolder(const std::string& strPath)
{
    std::lock_guard lock(m_statusLock);
    m_nRefusedFolders.fetch_add(1);
    if (m_refusedPaths.size() < MAX_REFUSED_PATHS)
        m_refusedPaths.push_back(strPath);
}

std::vector<std::string> CFTPSite::GetRefusedPaths() const
{
    std::lock_guard lock(m_statusLock);
    return m_refusedPaths;
}

void CFTPSite::ClearRefusedFolders()
{
    std::lock_guard lock(m_statusLock);
    m_nRefusedFolders.store(0);
    m_refusedPaths.clear();
}

namespace
{
// "/" and NUL cannot appear in a path component, "%" is the escape itself;
// bEscapePercent is off only for the names folders had before.
std::string EscapeKey(const std::string& strKey, bool bEscapePercent)
{
    if (strKey.empty())
        return "%";
    if (strKey == ".")
        return "%2E";
    if (strKey == "..")
        return "%2E%2E";
    std::string_view special(bEscapePercent ? "/\0%" : "/\0", bEscapePercent ? 3 : 2);
    if (strKey.find_first_of(special) == std::string::npos)
        return strKey;
    std::string str;
    str.reserve(strKey.size() + 8);
    for (char c : strKey)
    {
        if (c == '/')
            str += "%2F";
        else if (c == '\0')
            str += "%00";
        else if (c == '%' && bEscapePercent)
            str += "%25";
        else
            str += c;
    }
    return str;
}

std::string OldSiteFolderName(const std::string& strKey)
{
    return EscapeKey(strKey, false);
}

// Whether some key has strName as its folder name.
bool IsSiteFolderName(const std::string& strName)
{
    std::string strKey;
    if (strName == "%2E" || strName == "%2E%2E")
        strKey = strName == "%2E" ? "." : "..";
    else if (strName != "%")
    {
        for (size_t i = 0; i < strName.size(); ++i)
        {
            if (strName[i] != '%')
            {
                strKey += strName[i];
                continue;
            }
            std::string_view strEscape = std::string_view(strName).substr(i, 3);
            if (strEscape == "%2F")
                strKey += '/';
            else if (strEscape == "%00")
                strKey += '\0';
            else if (strEscape == "%25")
                strKey += '%';
            else
                return false;
            i += 2;
        }
    }
    return GetSiteFolderName(strKey) == strName;
}
} // namespace

std::string FindRecordedTemp(const std::string& strFolder, const char* pszName)
{
    std::string strRecord = FindRecord(strFolder);
    CRecordNames names;
    if (strRecord.empty() || !ReadRecord(strFolder + "/" + strRecord, &names))
        return {};
    std::string strTemp = TempFor(names, pszName);
    std::error_code ec;
    if (strTemp.empty() || !std::filesystem::exists(strFolder + "/" + strTemp, ec))
        return {};
    return strFolder + "/" + strTemp;
}

std::string GetSiteFolderName(const std::string& strKey)
{
    return EscapeKey(strKey, true);
}

std::string GetSiteFolderPath(const std::string& strProgramFolder, const std::string& strKey)
{
    return strProgramFolder + "/Data/" + GetSiteFolderName(strKey);
}

void PrepareSiteFolder(const std::string& strProgramFolder, const std::string& strKey)
{
    MoveOldSiteFolder(strProgramFolder, strKey);
}

void MovePortlessSiteFolder(const std::string& strProgramFolder, const CFTPSite& site)
{
    std::string strOld = site.GetPortlessKey();
    std::string strNew = site.GetKey();
    if (strOld == strNew)
        return;
    MoveOldSiteFolder(strProgramFolder, strOld);
    MoveOldSiteFolder(strProgramFolder, strNew);
    std::string strFrom = GetSiteFolderPath(strProgramFolder, strOld);
    std::string strTo = GetSiteFolderPath(strProgramFolder, strNew);
    std::error_code ec;
    // Like a plain move: a folder the new key has already is never replaced.
    if (!std::filesystem::is_directory(strFrom, ec) || std::filesystem::exists(strTo, ec))
        return;
    std::filesystem::rename(strFrom, strTo, ec);
}

void RemoveSiteFiles(const std::string& strProgramFolder, const std::string& strKey)
{
    MoveOldSiteFolder(strProgramFolder, strKey);
    std::string strFolder = GetSiteFolderPath(strProgramFolder, strKey);
    std::lock_guard lock(FolderMutex(strFolder));
    RecoverFolder(strFolder);
    std::error_code ec;
    for (const char* pszName :
         {STATE_FILE, CONTENT_FILE, SITE_TIMES_FILE, SITE_OPTIONS_FILE, SITE_CHANGES_FILE, SITE_CHANGES_BATCH_FILE})
        std::filesystem::remove(strFolder + "/" + pszName, ec);
    std::filesystem::remove(strFolder, ec); // only when empty
}
