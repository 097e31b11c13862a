#include "model/TimesFile.h"

#include <cstring>
#include <vector>

#include "model/FTPEntry.h"

namespace
{
constexpr char MAGIC[8] = {'T', 'a', 'r', 'n', 'T', 'i', 'm', 'e'};
constexpr uint32_t VERSION = 1;
constexpr size_t HEADER_SIZE = 32;

void PutU64(std::string& str, uint64_t n)
{
    char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>(n >> (8 * i));
    str.append(bytes, 8);
}

uint64_t GetU64(const char* p)
{
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i)
        n = (n << 8) | static_cast<uint8_t>(p[i]);
    return n;
}

// Word-wise: fast over millions of entries, and any changed word changes it.
uint64_t Checksum(std::string_view bytes)
{
    uint64_t h = 0x6a09e667f3bcc908ULL ^ bytes.size();
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
    {
        h = (h ^ GetU64(bytes.data() + i)) * 0x9e3779b97f4a7c15ULL;
        h ^= h >> 31;
    }
    for (; i < bytes.size(); ++i)
        h = (h ^ static_cast<uint8_t>(bytes[i])) * 0x100000001b3ULL;
    return h ^ (h >> 29);
}

// The walk of state.st: a sub-folder, its sub-tree, then the files.
template <class Dir, class Fn> void Walk(Dir& root, Fn fn)
{
    struct CFrame
    {
        Dir* pDir;
        size_t nNext;
    };
    std::vector<CFrame> stack{{&root, 0}};
    while (!stack.empty())
    {
        CFrame& top = stack.back();
        if (top.nNext < top.pDir->m_dirList.size())
        {
            Dir* pSub = top.pDir->m_dirList[top.nNext++].get();
            fn(pSub->m_time);
            stack.push_back({pSub, 0});
            continue;
        }
        for (auto& pFile : top.pDir->m_fileList)
            fn(pFile->m_time);
        stack.pop_back();
    }
}
} // namespace

std::string BuildTimesFile(const CFTPDir& root, uint64_t nContentLength)
{
    std::string strBytes(MAGIC, sizeof(MAGIC));
    PutU64(strBytes, VERSION); // version and the reserved word
    PutU64(strBytes, nContentLength);
    PutU64(strBytes, 0); // the count, once known
    uint64_t nCount = 0;
    Walk(root,
         [&](const CEntryTime& time)
         {
             PutU64(strBytes, static_cast<uint64_t>(time.Get().Packed()));
             ++nCount;
         });
    std::string strCount;
    PutU64(strCount, nCount);
    std::memcpy(strBytes.data() + 24, strCount.data(), 8);
    PutU64(strBytes, Checksum(strBytes));
    return strBytes;
}

void ClearTimes(CFTPDir& root)
{
    Walk(root, [](CEntryTime& time) { time = CModTime(); });
}

bool ApplyTimesFile(std::string_view bytes, CFTPDir& root, uint64_t nContentLength)
{
    auto fail = [&root]
    {
        ClearTimes(root);
        return false;
    };
    if (bytes.empty())
    {
        ClearTimes(root);
        return true;
    }
    if (bytes.size() < HEADER_SIZE + 8 || std::memcmp(bytes.data(), MAGIC, 8) != 0 ||
        GetU64(bytes.data() + 8) != VERSION || GetU64(bytes.data() + 16) != nContentLength)
        return fail();
    uint64_t nCount = GetU64(bytes.data() + 24);
    if (nCount != (bytes.size() - HEADER_SIZE - 8) / 8 ||
        HEADER_SIZE + nCount * 8 + 8 != bytes.size())
        return fail();
    std::string_view body = bytes.substr(0, bytes.size() - 8);
    if (Checksum(body) != GetU64(bytes.data() + body.size()))
        return fail();
    const char* p = bytes.data() + HEADER_SIZE;
    uint64_t nSeen = 0;
    Walk(root,
         [&](CEntryTime& time)
         {
             time = nSeen < nCount ? CModTime::FromPacked(static_cast<int64_t>(GetU64(p)))
                                   : CModTime();
             p += nSeen < nCount ? 8 : 0;
             ++nSeen;
         });
    return nSeen == nCount ? true : fail();
}
