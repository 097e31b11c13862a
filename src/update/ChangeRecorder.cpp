#include "update/ChangeRecorder.h"

#include <chrono>
#include <new>

#include "model/FTPSite.h"
#include "model/IsoTime.h"
#include "model/SiteStats.h"
#include "update/UpdateObserver.h"

CChangeRecorder::CChangeRecorder(CFTPSite& site, std::string strRun, bool bFirst)
    : m_unsaved(site.m_unsavedChanges), m_codec(site.GetCodec()), m_strRun(std::move(strRun)),
      m_bFirst(bFirst), m_bLogModified(site.GetSettings().Get(CSiteSettings::LOG_MODIFIED))
{
}

void CChangeRecorder::BeginFolder(const CFTPDir& dir)
{
    m_strFolderPath = dir.GetPath();
}

std::string CChangeRecorder::PathOf(const std::string& strName) const
{
    return m_strFolderPath == "/" ? "/" + strName : m_strFolderPath + "/" + strName;
}

void CChangeRecorder::NoteAdded(const std::string& strName, bool bFolder, uint64_t nSize,
                                CModTime time)
{
    if (m_bFirst)
    {
        m_first.nFolders += bFolder ? 1 : 0;
        m_first.nFiles += bFolder ? 0 : 1;
        m_first.nBytes += nSize;
        return;
    }
    m_pending.push_back({ChangeKind::added, PathOf(strName), bFolder, nSize, 0, nullptr, time, {}});
}

void CChangeRecorder::NoteModified(const std::string& strName, uint64_t nSize, CModTime oldTime,
                                   CModTime time)
{
    if (m_bLogModified)
        m_pending.push_back(
            {ChangeKind::modified, PathOf(strName), false, nSize, 0, nullptr, time, oldTime});
}

void CChangeRecorder::NoteResized(const std::string& strName, uint64_t nOldSize, uint64_t nSize)
{
    m_pending.push_back(
        {ChangeKind::resized, PathOf(strName), false, nSize, nOldSize, nullptr, {}, {}});
}

void CChangeRecorder::NoteRemoved(const CObject* pEntry, int nType)
{
    bool bFolder = nType == IUpdateObserver::entryFolder;
    const std::string& strName = bFolder ? static_cast<const CFTPDir*>(pEntry)->m_strName
                                         : static_cast<const CFTPFile*>(pEntry)->m_strName;
    uint64_t nOldSize = bFolder ? 0 : static_cast<const CFTPFile*>(pEntry)->m_nSize;
    m_pending.push_back(
        {ChangeKind::removed, PathOf(strName), bFolder, 0, nOldSize, bFolder ? pEntry : nullptr,
         {}, {}});
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
        pRecord->strPath +=
            m_codec.Decode(std::string_view(strBytes).substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    if (pRecord->strPath.empty())
        pRecord->strPath.push_back('/');
    pRecord->strRaw = IsValidUtf8(strBytes) ? std::string() : EncodeRawPath(strBytes);
}

void CChangeRecorder::EndFolder()
{
    try
    {
        if (m_first.nFolders != 0 || m_first.nFiles != 0)
            m_unsaved.CountFirst(m_strRun, m_first.nFolders, m_first.nFiles, m_first.nBytes);
        if (m_pending.empty())
        {
            m_first = {};
            return;
        }
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
            record.strMtime = FormatModTimeIso(pending.time);
            record.strOldMtime = FormatModTimeIso(pending.oldTime);
            CTreeTotals held;
            if (pending.pEntry != nullptr)
                held = CountTreeTotals(*static_cast<const CFTPDir*>(pending.pEntry));
            record.nFolders = held.nFolders;
            record.nFiles = held.nFiles;
            record.nBytes = held.nBytes;
            strLines += FormatChangeLine(record);
        }
        if (!strLines.empty())
            m_unsaved.AddLines(strLines);
    }
    catch (const std::bad_alloc&)
    {
        // The folder's lines are lost; the tree and the rest of the log are not.
    }
    m_first = {};
    m_pending.clear();
}
