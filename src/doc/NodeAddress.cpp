#include "doc/NodeAddress.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <unordered_set>
#include <vector>

#include "doc/FtpUrl.h"
#include "doc/TarnDoc.h"
#include "model/PercentCode.h"

namespace
{
// Folders an address writer keeps what it learnt of; past that it starts
// afresh, so a walk over a whole tree stays bounded.
constexpr size_t MAX_FOLDERS_KEPT = 4096;

CNameCodec CodecOf(const CFTPSite* pSite)
{
    return pSite != nullptr ? pSite->GetCodec() : CNameCodec();
}

// A name as its bytes: "%XX" for "%" and the bytes at or above 0x80, or for
// every byte.
std::string EscapeName(std::string_view strName, bool bEveryByte)
{
    return PercentEncodeBytes(strName, [bEveryByte](unsigned char c)
                              { return !bEveryByte && c < 0x80 && c != '%'; });
}

// The bytes a "%XX" form stands for; false when strName holds no such form
// or a "%" without two hex digits.
bool UnescapeName(std::string_view strName, std::string* pBytes)
{
    return strName.find('%') != std::string_view::npos && PercentDecode(strName, pBytes);
}

template <class T>
T* FindByBytes(const std::vector<std::unique_ptr<T>>& list, std::string_view strName)
{
    for (const auto& p : list)
    {
        if (p->m_strName == strName)
            return p.get();
    }
    return nullptr;
}

// The child of dir that strName names (see ResolveAddress); one of *ppDir
// and *ppFile is set, or false.
bool FindChild(const CFTPDir& dir, std::string_view strName, const CNameCodec& codec,
               CFTPDir** ppDir, CFTPFile** ppFile)
{
    *ppDir = FindByBytes(dir.m_dirList, strName);
    if (*ppDir == nullptr)
        *ppFile = FindByBytes(dir.m_fileList, strName);
    if (*ppDir != nullptr || *ppFile != nullptr)
        return true;
    std::string strBytes;
    if (UnescapeName(strName, &strBytes))
    {
        *ppDir = FindByBytes(dir.m_dirList, strBytes);
        if (*ppDir == nullptr)
            *ppFile = FindByBytes(dir.m_fileList, strBytes);
        if (*ppDir != nullptr || *ppFile != nullptr)
            return true;
    }
    // By text: a name whose text is exactly its own before one read with
    // stand-ins (which the listings show as its bytes).
    std::string strText;
    auto matches = [&](const std::string& strOwn)
    {
        if (codec.IsDecodedAsIs(strOwn))
            return false; // its text is its bytes: compared above
        codec.DecodeTo(strOwn, &strText);
        return strText == strName;
    };
    CFTPDir* pInexactDir = nullptr;
    CFTPFile* pInexactFile = nullptr;
    for (const auto& p : dir.m_dirList)
    {
        if (!matches(p->m_strName))
            continue;
        if (codec.IsDecodedExactly(p->m_strName))
        {
            *ppDir = p.get();
            return true;
        }
        if (pInexactDir == nullptr)
            pInexactDir = p.get();
    }
    for (const auto& p : dir.m_fileList)
    {
        if (!matches(p->m_strName))
            continue;
        if (codec.IsDecodedExactly(p->m_strName))
        {
            *ppFile = p.get();
            return true;
        }
        if (pInexactFile == nullptr)
            pInexactFile = p.get();
    }
    *ppDir = pInexactDir;
    *ppFile = pInexactDir == nullptr ? pInexactFile : nullptr;
    return *ppDir != nullptr || *ppFile != nullptr;
}
} // namespace

// What a writer learnt of one folder's names.
struct CAddressWriter::CFolder
{
    uint64_t nEntries = 0; // EntriesOf when learnt
    bool bChecked = true;  // since the last Recheck
    // The names another name's text or "%XX" form could equal: UTF-8 ones
    // beyond ASCII, and ASCII ones holding "%".
    std::unordered_set<std::string_view> names;
    // The texts of the names not read as their bytes, as sorted hashes (a
    // clash only makes a name show as its bytes); kept only when two names
    // read alike.
    std::vector<size_t> texts;
};

namespace
{
// Which entries a folder holds, in one number (FNV-1a over the entries'
// addresses and the list sizes): entries keep their names, so the same
// entries mean the same names.
uint64_t EntriesOf(const CFTPDir& dir)
{
    uint64_t nHash = 14695981039346656037ULL;
    auto mix = [&nHash](uint64_t n)
    {
        nHash ^= n;
        nHash *= 1099511628211ULL;
    };
    mix(dir.m_dirList.size());
    for (const auto& p : dir.m_dirList)
        mix(reinterpret_cast<uintptr_t>(p.get()));
    mix(dir.m_fileList.size());
    for (const auto& p : dir.m_fileList)
        mix(reinterpret_cast<uintptr_t>(p.get()));
    return nHash;
}
} // namespace

CAddressWriter::CAddressWriter() = default;
CAddressWriter::~CAddressWriter() = default;

void CAddressWriter::Recheck()
{
    for (auto& [pDir, pFolder] : m_folders)
        pFolder->bChecked = false;
}

std::string CAddressWriter::Of(const CFTPDir& dir, const CNameCodec& codec)
{
    if (dir.m_pParent == nullptr)
        return "ftp://" + (dir.m_pSite != nullptr ? GetDisplayKey(*dir.m_pSite) : "") + "/";
    return Address(dir.m_pParent, dir.m_strName, codec);
}

std::string CAddressWriter::Of(const CFTPFile& file, const CNameCodec& codec)
{
    return Address(file.m_pParent, file.m_strName, codec);
}

CAddressWriter::CFolder& CAddressWriter::FolderOf(const CFTPDir& dir)
{
    std::unique_ptr<CFolder>& pFolder = m_folders[&dir];
    if (pFolder != nullptr && !pFolder->bChecked)
    {
        if (pFolder->nEntries == EntriesOf(dir))
            pFolder->bChecked = true;
        else
            pFolder.reset();
    }
    if (pFolder == nullptr)
    {
        pFolder = std::make_unique<CFolder>();
        pFolder->nEntries = EntriesOf(dir);
        std::string strText;
        auto learn = [&](const std::string& strOther)
        {
            bool bAscii = IsAscii(strOther);
            if ((bAscii && strOther.find('%') != std::string::npos) ||
                (!bAscii && IsValidUtf8(strOther)))
                pFolder->names.insert(strOther);
            if (m_codec.IsDecodedAsIs(strOther))
                return;
            m_codec.DecodeTo(strOther, &strText);
            pFolder->texts.push_back(std::hash<std::string_view>()(strText));
        };
        for (const auto& p : dir.m_dirList)
            learn(p->m_strName);
        for (const auto& p : dir.m_fileList)
            learn(p->m_strName);
        std::sort(pFolder->texts.begin(), pFolder->texts.end());
        if (std::adjacent_find(pFolder->texts.begin(), pFolder->texts.end()) ==
            pFolder->texts.end())
            std::vector<size_t>().swap(pFolder->texts);
    }
    return *pFolder;
}

void CAddressWriter::AppendName(const CFTPDir& parent, const std::string& strName,
                                std::string* pOut)
{
    if (m_codec.IsDecodedAsIs(strName))
    {
        *pOut += strName;
        return;
    }
    m_codec.DecodeTo(strName, &m_strText);
    CFolder& folder = FolderOf(parent);
    bool bAsBytes = m_strText != strName && folder.names.contains(m_strText);
    if (!bAsBytes && !folder.texts.empty())
    {
        auto range = std::equal_range(folder.texts.begin(), folder.texts.end(),
                                      std::hash<std::string_view>()(m_strText));
        bAsBytes = range.second - range.first > 1 && !m_codec.IsDecodedExactly(strName);
    }
    if (!bAsBytes)
    {
        *pOut += m_strText;
        return;
    }
    std::string strBytes = EscapeName(strName, false);
    if (folder.names.contains(strBytes))
        strBytes = EscapeName(strName, true);
    *pOut += strBytes;
}

std::string CAddressWriter::Address(const CFTPDir* pParent, const std::string& strOwn,
                                    const CNameCodec& codec)
{
    if (!(codec == m_codec) || m_folders.size() >= MAX_FOLDERS_KEPT)
    {
        m_codec = codec;
        m_folders.clear();
    }
    std::vector<const CFTPDir*> chain;
    const CFTPDir* pTop = pParent;
    for (const CFTPDir* p = pParent; p != nullptr; p = p->m_pParent)
    {
        chain.push_back(p);
        pTop = p;
    }
    std::string str = "ftp://";
    if (pTop != nullptr && pTop->m_pSite != nullptr)
        str += GetDisplayKey(*pTop->m_pSite);
    str += '/';
    // The root (last in the chain) has no name of its own.
    for (size_t i = chain.size(); i-- > 1;)
    {
        AppendName(*chain[i], chain[i - 1]->m_strName, &str);
        str += '/';
    }
    if (pParent != nullptr)
        AppendName(*pParent, strOwn, &str);
    else
        str += m_codec.Decode(strOwn);
    return str;
}

std::string GetDisplayKey(const CFTPSite& site)
{
    return DecodeAuto(site.GetKey());
}

std::string GetDisplayAddress(const CFTPDir& dir, const CNameCodec& codec)
{
    CAddressWriter writer;
    return writer.Of(dir, codec);
}

std::string GetDisplayAddress(const CFTPFile& file, const CNameCodec& codec)
{
    CAddressWriter writer;
    return writer.Of(file, codec);
}

std::string GetDisplayAddress(const CFTPDir& dir)
{
    return GetDisplayAddress(dir, CodecOf(dir.GetSite()));
}

std::string GetDisplayAddress(const CFTPFile& file)
{
    return GetDisplayAddress(file, CodecOf(file.GetSite()));
}

bool FindEntryByPath(CFTPSite& site, std::string_view strPath, const CNameCodec& codec,
                     CEntryRef* pRef)
{
    *pRef = CEntryRef{};
    pRef->pSite = &site;
    CFTPDir* pDir = site.m_pRoot.get();
    CFTPFile* pFile = nullptr;
    while (!strPath.empty())
    {
        size_t nSlash = strPath.find('/');
        std::string_view strName = strPath.substr(0, nSlash);
        strPath =
            nSlash == std::string_view::npos ? std::string_view() : strPath.substr(nSlash + 1);
        if (strName.empty())
            continue;
        if (pDir == nullptr)
            return false; // a name below a file
        CFTPDir* pSub = nullptr;
        if (!FindChild(*pDir, strName, codec, &pSub, &pFile))
            return false;
        pDir = pSub;
    }
    pRef->pDir = pDir;
    pRef->pFile = pDir == nullptr ? pFile : nullptr;
    return true;
}

ResolveResult ResolveAddress(CTarnDoc& doc, const std::string& strAddress, CEntryRef* pRef)
{
    *pRef = CEntryRef{};
    size_t nPathStart = 0;
    CFTPSite* pSite = doc.FindSiteByAddress(strAddress, &nPathStart);
    if (pSite == nullptr)
        return ResolveResult::noSite;
    doc.EnsureLoaded(*pSite);
    CNameCodec codec = pSite->GetCodec();
    std::shared_lock lock(pSite->m_treeLock);
    bool bFound =
        FindEntryByPath(*pSite, std::string_view(strAddress).substr(nPathStart), codec, pRef);
    if (!bFound)
    {
        *pRef = CEntryRef{};
        pRef->pSite = pSite;
    }
    return bFound ? ResolveResult::found : ResolveResult::noEntry;
}

std::string GetServerPath(const CEntryRef& ref)
{
    if (ref.pDir != nullptr)
        return ref.pDir->GetPath();
    if (ref.pFile == nullptr)
        return "/";
    std::string strParent = ref.pFile->m_pParent != nullptr ? ref.pFile->m_pParent->GetPath() : "/";
    if (strParent.back() != '/')
        strParent += '/';
    return strParent + ref.pFile->m_strName;
}

std::string GetEntryUrl(const CEntryRef& ref)
{
    return ref.pSite != nullptr ? BuildFtpUrl(*ref.pSite, GetServerPath(ref)) : std::string();
}
