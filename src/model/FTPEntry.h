#pragma once
// The entries of a site's cached tree: folders own their files and
// sub-folders; parent links point up without owning.
//
// Threads: a tree is changed by its site's update worker under the site's
// exclusive tree lock (CFTPSite::m_treeLock) and read by the GUI thread under
// the shared lock. The entries carry no lock of their own.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/Archive.h"
#include "model/ModTime.h"

class CFTPDir;
class CFTPSite;

// The deepest folder level below a site's root that a cached tree holds. The
// crawler keeps folders at this level as their parent listed them but does
// not enter them (a hostile server must not exhaust the stack), and the
// loader accepts every tree down to it.
inline constexpr int MAX_TREE_DEPTH = 1000;

#define TARN_DECLARE_SERIAL(class_name)                                                            \
public:                                                                                            \
    static const CRuntimeClass* GetThisClass();                                                    \
    const CRuntimeClass* GetRuntimeClass() const override                                          \
    {                                                                                              \
        return GetThisClass();                                                                     \
    }

class CFTPFile : public CObject
{
    TARN_DECLARE_SERIAL(CFTPFile)

public:
    CFTPFile() = default;
    void Serialize(CArchive& ar) override;

    CFTPSite* GetSite() const;
    // Node address: "ftp://" + site key + "/" + path.
    std::string GetAddress() const;

    std::string m_strName;
    int32_t m_nState = 0; // unread mark: non-zero = unread
    int32_t m_bSeen = 0;  // crawl mark, never stored
    uint64_t m_nSize = 0;
    CFTPDir* m_pParent = nullptr;
    CEntryTime m_time; // kept in times.bin, not in content.ct
};

class CFTPDir : public CObject
{
    TARN_DECLARE_SERIAL(CFTPDir)

public:
    CFTPDir() = default;
    ~CFTPDir() override;
    void Serialize(CArchive& ar) override;

    CFTPSite* GetSite() const;
    // Absolute server path: "/" for the root, "/a/b" below it.
    std::string GetPath() const;
    // Node address: "ftp://" + site key + "/" + path ("ftp://key/" for the root).
    std::string GetAddress() const;
    // Levels below the root (the root is 0).
    int GetDepth() const;

    int32_t m_nState = 0;
    std::string m_strName;
    int32_t m_bSeen = 0;
    CFTPDir* m_pParent = nullptr;
    CFTPSite* m_pSite = nullptr; // set on the root only
    CEntryTime m_time;           // kept in times.bin, not in content.ct
    std::vector<std::unique_ptr<CFTPFile>> m_fileList;
    std::vector<std::unique_ptr<CFTPDir>> m_dirList;
};

// Number of folders and files below dir (dir itself not counted).
struct CTreeCount
{
    uint64_t nDirs = 0;
    uint64_t nFiles = 0;
};
CTreeCount CountTree(const CFTPDir& dir);
