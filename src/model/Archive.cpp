#include "model/Archive.h"

#include <cstring>

#include "model/FTPEntry.h"
#include "model/FTPSite.h"

namespace
{
constexpr uint16_t NULL_TAG = 0;
constexpr uint16_t NEW_CLASS_TAG = 0xFFFF;
constexpr uint16_t CLASS_TAG = 0x8000;
constexpr uint32_t BIG_CLASS_TAG = 0x80000000;
constexpr uint16_t BIG_OBJECT_TAG = 0x7FFF;
constexpr uint32_t MAX_NAME_LENGTH = 64;

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
        out += static_cast<char>(cp);
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE to the 8-bit code page (UTF-8 here); a lone surrogate becomes the
// default character '?'.
std::string Utf16ToUtf8(const uint8_t* p, size_t nChars)
{
    std::string out;
    out.reserve(nChars);
    for (size_t i = 0; i < nChars; ++i)
    {
        uint32_t c = p[2 * i] | (p[2 * i + 1] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < nChars)
        {
            uint32_t d = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (d >= 0xDC00 && d < 0xE000)
            {
                AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
                ++i;
                continue;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = '?';
        AppendUtf8(out, c);
    }
    return out;
}
} // namespace

const char* CArchiveException::what() const noexcept
{
    switch (m_cause)
    {
    case genericException:
        return "archive: damaged data";
    case readOnly:
        return "archive: write to a load-mode archive";
    case endOfFile:
        return "archive: unexpected end of file";
    case writeOnly:
        return "archive: read from a store-mode archive";
    case badIndex:
        return "archive: bad object index";
    case badClass:
        return "archive: unknown class";
    case badSchema:
        return "archive: unknown schema";
    default:
        return "archive: error";
    }
}

const CRuntimeClass* FindSerialClass(std::string_view strName)
{
    for (const CRuntimeClass* pClass :
         {CFTPDir::GetThisClass(), CFTPFile::GetThisClass(), CFTPSite::GetThisClass()})
    {
        if (strName == pClass->m_lpszClassName)
            return pClass;
    }
    return nullptr;
}

CArchive::CArchive(CFile* pFile, Mode nMode)
    : m_pFile(pFile), m_nMode(nMode), m_buffer(new uint8_t[BUFFER_SIZE])
{
    if (m_nMode == load)
    {
        uint64_t nLength = pFile->GetLength();
        uint64_t nPos = pFile->GetPosition();
        m_nRemaining = nLength > nPos ? nLength - nPos : 0;
        m_loadArray.push_back({nullptr, false}); // index 0: null
    }
}

CArchive::~CArchive()
{
    if (m_pFile != nullptr && IsStoring())
    {
        try
        {
            Flush();
        }
        catch (...)
        {
            // A destructor cannot report; callers that care call Close().
        }
    }
}

void CArchive::Flush()
{
    if (IsStoring() && m_nBufPos != 0)
    {
        size_t n = m_nBufPos;
        m_nBufPos = 0;
        m_pFile->Write(m_buffer.get(), n);
    }
}

void CArchive::Close()
{
    Flush();
    m_pFile = nullptr;
}

void CArchive::CheckStoring() const
{
    if (!IsStoring())
        throw CArchiveException(CArchiveException::readOnly);
}

void CArchive::CheckLoading() const
{
    if (!IsLoading())
        throw CArchiveException(CArchiveException::writeOnly);
}

void CArchive::WriteBytes(const void* p, size_t n)
{
    CheckStoring();
    const auto* b = static_cast<const uint8_t*>(p);
    while (n != 0)
    {
        if (m_nBufPos == BUFFER_SIZE)
            Flush();
        size_t nChunk = std::min(n, BUFFER_SIZE - m_nBufPos);
        std::memcpy(m_buffer.get() + m_nBufPos, b, nChunk);
        m_nBufPos += nChunk;
        b += nChunk;
        n -= nChunk;
    }
}

void CArchive::FillBuffer()
{
    size_t nWant = static_cast<size_t>(std::min<uint64_t>(BUFFER_SIZE, m_nRemaining));
    size_t nGot = nWant == 0 ? 0 : m_pFile->Read(m_buffer.get(), nWant);
    m_nBufPos = 0;
    m_nBufEnd = nGot;
    m_nRemaining = nGot < nWant ? 0 : m_nRemaining - nGot;
}

void CArchive::ReadBytes(void* p, size_t n)
{
    CheckLoading();
    if (n > GetRemaining())
    {
        // Consume what is left so a caller that goes on sees the end too.
        m_nBufPos = m_nBufEnd;
        m_nRemaining = 0;
        throw CArchiveException(CArchiveException::endOfFile);
    }
    auto* b = static_cast<uint8_t*>(p);
    while (n != 0)
    {
        if (m_nBufPos == m_nBufEnd)
        {
            FillBuffer();
            if (m_nBufEnd == 0)
                throw CArchiveException(CArchiveException::endOfFile);
        }
        size_t nChunk = std::min(n, m_nBufEnd - m_nBufPos);
        std::memcpy(b, m_buffer.get() + m_nBufPos, nChunk);
        m_nBufPos += nChunk;
        b += nChunk;
        n -= nChunk;
    }
}

CArchive& CArchive::operator<<(uint8_t v)
{
    WriteBytes(&v, 1);
    return *this;
}

CArchive& CArchive::operator<<(uint16_t v)
{
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    WriteBytes(b, 2);
    return *this;
}

CArchive& CArchive::operator<<(uint32_t v)
{
    uint8_t b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<uint8_t>(v >> (8 * i));
    WriteBytes(b, 4);
    return *this;
}

CArchive& CArchive::operator<<(uint64_t v)
{
    uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<uint8_t>(v >> (8 * i));
    WriteBytes(b, 8);
    return *this;
}

CArchive& CArchive::operator>>(uint8_t& v)
{
    ReadBytes(&v, 1);
    return *this;
}

CArchive& CArchive::operator>>(bool& v)
{
    uint8_t b;
    ReadBytes(&b, 1);
    v = b != 0;
    return *this;
}

CArchive& CArchive::operator>>(uint16_t& v)
{
    uint8_t b[2];
    ReadBytes(b, 2);
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return *this;
}

CArchive& CArchive::operator>>(uint32_t& v)
{
    uint8_t b[4];
    ReadBytes(b, 4);
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return *this;
}

CArchive& CArchive::operator>>(int32_t& v)
{
    uint32_t u;
    *this >> u;
    v = static_cast<int32_t>(u);
    return *this;
}

CArchive& CArchive::operator>>(uint64_t& v)
{
    uint32_t lo, hi;
    *this >> lo >> hi;
    v = (static_cast<uint64_t>(hi) << 32) | lo;
    return *this;
}

void CArchive::WriteString(const std::string& str)
{
    uint64_t n = str.size();
    if (n < 0xFF)
        *this << static_cast<uint8_t>(n);
    else
    {
        *this << static_cast<uint8_t>(0xFF);
        if (n < 0xFFFE)
            *this << static_cast<uint16_t>(n);
        else
        {
            *this << static_cast<uint16_t>(0xFFFF);
            if (n < 0xFFFFFFFF)
                *this << static_cast<uint32_t>(n);
            else
                *this << static_cast<uint32_t>(0xFFFFFFFF) << n;
        }
    }
    WriteBytes(str.data(), str.size());
}

std::string CArchive::ReadString()
{
    // The length prefix: byte; 0xFF then 16-bit; 0xFFFF then 32-bit;
    // 0xFFFFFFFF then 64-bit. 16-bit 0xFFFE announces UTF-16 text whose own
    // prefix follows (where 0xFFFE is an ordinary length).
    bool bUnicode = false;
    uint64_t nLength = 0;
    for (int nPass = 0; nPass < 2; ++nPass)
    {
        uint8_t b;
        *this >> b;
        if (b < 0xFF)
        {
            nLength = b;
            break;
        }
        uint16_t w;
        *this >> w;
        if (w == 0xFFFE && nPass == 0)
        {
            bUnicode = true;
            continue;
        }
        if (w != 0xFFFF)
        {
            nLength = w;
            break;
        }
        uint32_t dw;
        *this >> dw;
        if (dw != 0xFFFFFFFF)
        {
            nLength = dw;
            break;
        }
        *this >> nLength;
        if (nLength > 0x7FFFFFFF)
            throw CArchiveException(CArchiveException::genericException);
        break;
    }
    uint64_t nBytes = bUnicode ? nLength * 2 : nLength;
    // Never allocate more than the file can still hold.
    if (nBytes > GetRemaining())
    {
        m_nBufPos = m_nBufEnd;
        m_nRemaining = 0;
        throw CArchiveException(CArchiveException::endOfFile);
    }
    if (!bUnicode)
    {
        std::string str(static_cast<size_t>(nBytes), '\0');
        ReadBytes(str.data(), str.size());
        return str;
    }
    std::vector<uint8_t> raw(static_cast<size_t>(nBytes));
    ReadBytes(raw.data(), raw.size());
    return Utf16ToUtf8(raw.data(), static_cast<size_t>(nLength));
}

void CArchive::WriteCount(uint32_t nCount)
{
    if (nCount < 0xFFFF)
        *this << static_cast<uint16_t>(nCount);
    else
        *this << static_cast<uint16_t>(0xFFFF) << nCount;
}

uint32_t CArchive::ReadCount()
{
    uint16_t w;
    *this >> w;
    if (w != 0xFFFF)
        return w;
    uint32_t dw;
    *this >> dw;
    return dw;
}

void CArchive::WriteClass(const CRuntimeClass* pClass)
{
    if (uint32_t c = m_storeMap.Find(pClass); c != 0)
    {
        if (c < BIG_OBJECT_TAG)
            *this << static_cast<uint16_t>(CLASS_TAG | c);
        else
            *this << BIG_OBJECT_TAG << (BIG_CLASS_TAG | c);
        return;
    }
    *this << NEW_CLASS_TAG;
    std::string_view strName = pClass->m_lpszClassName;
    *this << pClass->m_wSchema << static_cast<uint16_t>(strName.size());
    WriteBytes(strName.data(), strName.size());
    if (m_nMapCount >= MAX_MAP_COUNT)
        throw CArchiveException(CArchiveException::badIndex);
    m_storeMap.Insert(pClass, m_nMapCount++);
}

void CArchive::WriteObject(const CObject* pObj)
{
    CheckStoring();
    if (pObj == nullptr)
    {
        *this << NULL_TAG;
        return;
    }
    if (uint32_t i = m_storeMap.Find(pObj); i != 0)
    {
        if (i < BIG_OBJECT_TAG)
            *this << static_cast<uint16_t>(i);
        else
            *this << BIG_OBJECT_TAG << i;
        return;
    }
    const CRuntimeClass* pClass = pObj->GetRuntimeClass();
    if (pClass == nullptr)
        throw CArchiveException(CArchiveException::badClass);
    WriteClass(pClass);
    if (m_nMapCount >= MAX_MAP_COUNT)
        throw CArchiveException(CArchiveException::badIndex);
    m_storeMap.Insert(pObj, m_nMapCount++);
    const_cast<CObject*>(pObj)->Serialize(*this);
}

const CRuntimeClass* CArchive::ReadClass(uint32_t* pnTag)
{
    uint16_t w;
    *this >> w;
    uint32_t nTag = w == BIG_OBJECT_TAG ? 0 : ((w & 0x8000u) << 16) | (w & 0x7FFFu);
    if (w == BIG_OBJECT_TAG)
        *this >> nTag;
    *pnTag = nTag;

    if (!(nTag & BIG_CLASS_TAG))
        return nullptr; // an object index (0 = null), resolved by the caller

    if (w == NEW_CLASS_TAG)
    {
        uint16_t wSchema, nLen;
        *this >> wSchema >> nLen;
        if (nLen >= MAX_NAME_LENGTH)
            throw CArchiveException(CArchiveException::badClass);
        char szName[MAX_NAME_LENGTH];
        try
        {
            ReadBytes(szName, nLen);
        }
        catch (const CArchiveException&)
        {
            throw CArchiveException(CArchiveException::badClass);
        }
        const CRuntimeClass* pClass = FindSerialClass(std::string_view(szName, nLen));
        if (pClass == nullptr)
            throw CArchiveException(CArchiveException::badClass);
        if (pClass->m_wSchema != wSchema)
            throw CArchiveException(CArchiveException::badSchema);
        if (m_nMapCount >= MAX_MAP_COUNT)
            throw CArchiveException(CArchiveException::badIndex);
        m_loadArray.push_back({pClass, true});
        ++m_nMapCount;
        return pClass;
    }

    uint32_t c = nTag & ~BIG_CLASS_TAG;
    if (c == 0 || c >= m_nMapCount || !m_loadArray[c].bClass)
        throw CArchiveException(CArchiveException::badIndex);
    return static_cast<const CRuntimeClass*>(m_loadArray[c].p);
}

CObject* CArchive::ReadObject(const CRuntimeClass* pClassRefRequested, bool* pbNew)
{
    CheckLoading();
    if (pbNew != nullptr)
        *pbNew = false;
    uint32_t nTag;
    const CRuntimeClass* pClass = ReadClass(&nTag);
    if (pClass == nullptr)
    {
        if (nTag == 0)
            return nullptr;
        if (nTag >= m_nMapCount || m_loadArray[nTag].bClass)
            throw CArchiveException(CArchiveException::badIndex);
        auto* pObj = static_cast<CObject*>(const_cast<void*>(m_loadArray[nTag].p));
        if (pClassRefRequested != nullptr &&
            !pObj->GetRuntimeClass()->IsDerivedFrom(pClassRefRequested))
            throw CArchiveException(CArchiveException::badClass);
        return pObj;
    }
    // An element of another class than its list holds is damaged data.
    if (pClassRefRequested != nullptr && !pClass->IsDerivedFrom(pClassRefRequested))
        throw CArchiveException(CArchiveException::badClass);

    std::unique_ptr<CObject> pObj(pClass->m_pfnCreateObject());
    if (m_nMapCount >= MAX_MAP_COUNT)
        throw CArchiveException(CArchiveException::badIndex);
    m_loadArray.push_back({pObj.get(), false});
    ++m_nMapCount;
    // An object interrupted in its own fields is discarded with what it read.
    pObj->Serialize(*this);
    if (pbNew != nullptr)
        *pbNew = true;
    return pObj.release();
}

namespace
{
size_t HashPtr(const void* p, size_t nMask)
{
    auto n = reinterpret_cast<uintptr_t>(p);
    n ^= n >> 17;
    n *= 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(n >> 20) & nMask;
}
} // namespace

uint32_t CArchive::CPtrIndexMap::Find(const void* p) const
{
    if (m_slots.empty())
        return 0;
    size_t nMask = m_slots.size() - 1;
    for (size_t i = HashPtr(p, nMask);; i = (i + 1) & nMask)
    {
        if (m_slots[i].p == p)
            return m_slots[i].nIndex;
        if (m_slots[i].p == nullptr)
            return 0;
    }
}

void CArchive::CPtrIndexMap::Insert(const void* p, uint32_t nIndex)
{
    if ((m_nUsed + 1) * 2 > m_slots.size())
    {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        m_nUsed = 0;
        for (const Slot& slot : old)
            if (slot.p != nullptr)
                Insert(slot.p, slot.nIndex);
    }
    size_t nMask = m_slots.size() - 1;
    size_t i = HashPtr(p, nMask);
    while (m_slots[i].p != nullptr)
        i = (i + 1) & nMask;
    m_slots[i] = {p, nIndex};
    ++m_nUsed;
}

CArchive::CDepthGuard::CDepthGuard(CArchive& ar, int nMaxDepth) : m_ar(ar)
{
    if (++m_ar.m_nDepth > nMaxDepth)
    {
        --m_ar.m_nDepth;
        throw CArchiveException(CArchiveException::genericException);
    }
}
