#include "update/ChangeRecorder.h"

#include "model/FTPSite.h"
#include "model/File.h"
#include "model/IsoTime.h"
#include "model/ProgramFolder.h"
#include "update/UpdateObserver.h"

CChangeRecorder::CChangeRecorder(const CFTPSite& site, std::string strRun, bool bFirst)
    : m_codec(site.GetCodec()), m_strRun(std::move(strRun)), m_bFirst(bFirst),
      m_strProgramFolder(GetProgramFolder()), m_strKey(site.GetKey())
{
}

CChangeRecorder::~CChangeRecorder() = default;

void CChangeRecorder::BeginFolder(const CFTPDir& dir)
{
    m_strFolderPath = dir.GetPath();
}

std::string CChangeRecorder::PathOf(const std::string& strName) const
{
    return m_strFolderPath == "/" ? "/" + strName : m_strFolderPath + "/" + strName;
}

void CChangeRecorder::NoteAdded(const std::string& strName, bool bFolder, uint64_t nSize)
{
    if (m_bFirst)
        return;
    m_pending.push_back({ChangeKind::added, PathOf(strName), bFolder, nSize, 0, nullptr});
}

void CChangeRecorder::NoteResized(const std::string& strName, uint64_t nOldSize, uint64_t nSize)
{
    m_pending.push_back({ChangeKind::resized, PathOf(strName), false, nSize, nOldSize, nullptr});
}

void CChangeRecorder::NoteRemoved(const CObject* pEntry, int nType)
{
    bool bFolder = nType == IUpdateObserver::entryFolder;
    const std::string& strName = bFolder ? static_cast<const CFTPDir*>(pEntry)->m_strName
                                         : static_cast<const CFTPFile*>(pEntry)->m_strName;
    uint64_t nOldSize = bFolder ? 0 : static_cast<const CFTPFile*>(pEntry)->m_nSize;
    m_pending.push_back(
        {ChangeKind::removed, PathOf(strName), bFolder, 0, nOldSize, bFolder ? pEntry : nullptr});
}

void CChangeRecorder::FillPath(const std::string& strBytes, CChangeRecord* pRecord) const
{
    // Name by name, as addresses are shown: in "auto" a UTF-8 name stays
    // UTF-8 beside a GBK one.
    pRecord->strPath.clear();
    size_t nStart = 1;
    while (nStart <= strBytes.size())
    {
        size_t nEnd = strBytes.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strBytes.size();
        pRecord->strPath += '/';
        pRecord->strPath += m_codec.Decode(std::string_view(strBytes).substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    if (pRecord->strPath.empty())
        pRecord->strPath = "/";
    pRecord->strRaw = IsValidUtf8(strBytes) ? std::string() : EncodeRawPath(strBytes);
}

void CChangeRecorder::Flush()
{
    if (m_pending.empty())
        return;
    std::string strLines;
    CChangeRecord record;
    record.strTime = FormatIsoTime(std::chrono::system_clock::now());
    record.strRun = m_strRun;
    for (const CPending& pending : m_pending)
    {
        record.nKind = pending.nKind;
        FillPath(pending.strPathBytes, &record);
        record.bFolder = pending.bFolder;
        record.nSize = pending.nSize;
        record.nOldSize = pending.nOldSize;
        CTreeTotals held;
        if (pending.pEntry != nullptr)
            held = CountTreeTotals(*static_cast<const CFTPDir*>(pending.pEntry));
        record.nFolders = held.nFolders;
        record.nFiles = held.nFiles;
        record.nBytes = held.nBytes;
        strLines += FormatChangeLine(record);
    }
    m_pending.clear();
    Write(strLines);
}

void CChangeRecorder::WriteFirstSummary(const CTreeTotals& totals)
{
    if (!m_bFirst || (totals.nFolders == 0 && totals.nFiles == 0))
        return;
    CChangeRecord record;
    record.strTime = FormatIsoTime(std::chrono::system_clock::now());
    record.strRun = m_strRun;
    record.nKind = ChangeKind::first;
    record.strPath = "/";
    record.bFolder = true;
    record.nFolders = totals.nFolders;
    record.nFiles = totals.nFiles;
    record.nBytes = totals.nBytes;
    Write(FormatChangeLine(record));
}

void CChangeRecorder::Write(const std::string& strLines)
{
    if (!m_strError.empty())
        return;
    try
    {
        if (!m_pWriter)
        {
            // The site folder appears with the first save; the log may come first.
            PrepareSiteFolder(m_strProgramFolder, m_strKey);
            CreateFolder(m_strProgramFolder + "/Data");
            CreateFolder(GetSiteFolderPath(m_strProgramFolder, m_strKey));
            m_pWriter = std::make_unique<CChangeLogWriter>(
                GetChangeLogPath(m_strProgramFolder, m_strKey));
        }
        m_pWriter->Append(strLines);
    }
    catch (const CFileException& e)
    {
        m_strError = e.what();
    }
    catch (const std::bad_alloc&)
    {
        m_strError = "内存不足";
    }
}
