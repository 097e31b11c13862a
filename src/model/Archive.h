#pragma once
// The binary object archive shared by site.ds, content.ct and state.st.
//
// The byte layout is fixed (little-endian primitives, length-prefixed 8-bit
// strings, 16/32-bit counts, object references with class records and one
// shared index space), so files written by any implementation of this
// encoding load here and ours load there. Used by whichever thread saves or
// loads a file; one archive is never shared between threads.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/File.h"

class CArchive;

// Error raised while encoding or decoding; m_cause is one of the codes below.
class CArchiveException : public std::exception
{
public:
    enum Cause
    {
        none = 0,
        genericException = 1, // 64-bit string length too large, damaged structure
        readOnly = 2,         // writing into a load-mode archive
        endOfFile = 3,        // a read needs more bytes than the file holds
        writeOnly = 4,        // reading from a store-mode archive
        badIndex = 5,         // object or class index out of range
        badClass = 6,         // unknown class name
        badSchema = 7,        // class record with another schema
    };

    explicit CArchiveException(int nCause) : m_cause(nCause) {}
    const char* what() const noexcept override;

    int m_cause;
};

class CObject;

// One serialisable class: its stored name, schema and factory.
struct CRuntimeClass
{
    const char* m_lpszClassName;
    uint16_t m_wSchema;
    CObject* (*m_pfnCreateObject)();

    bool IsDerivedFrom(const CRuntimeClass* pBase) const { return this == pBase; }
};

// The classes the archive may create by name: "CFTPDir", "CFTPFile", "CFTPSite".
const CRuntimeClass* FindSerialClass(std::string_view strName);

class CObject
{
public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const = 0;
    virtual void Serialize(CArchive& ar) = 0;
};

class CArchive
{
public:
    enum Mode
    {
        store = 0,
        load = 1,
    };
    static constexpr size_t BUFFER_SIZE = 4096;
    static constexpr uint32_t MAX_MAP_COUNT = 0x3FFFFFFE;
    // Elements a list reserves before they arrive: a count read from the
    // file is only a claim, so nested lists must not reserve on its word.
    static constexpr uint32_t LIST_RESERVE = 16;

    // The file must stay open while the archive is in use. In load mode the
    // reader knows how many bytes remain, so no length read from the file can
    // make it allocate more than the file could hold.
    CArchive(CFile* pFile, Mode nMode);
    ~CArchive(); // store mode: flushes what is buffered; errors are dropped here
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsStoring() const { return m_nMode == store; }
    bool IsLoading() const { return m_nMode == load; }

    // Writes out the buffer (store mode). Raises CFileException on failure.
    void Flush();
    // Flush then detach; the destructor then has nothing to do.
    void Close();

    // Primitives.
    CArchive& operator<<(uint8_t v);
    CArchive& operator<<(bool v) { return *this << static_cast<uint8_t>(v ? 1 : 0); }
    CArchive& operator<<(uint16_t v);
    CArchive& operator<<(int32_t v) { return *this << static_cast<uint32_t>(v); }
    CArchive& operator<<(uint32_t v);
    CArchive& operator<<(uint64_t v);
    CArchive& operator<<(const std::string& str)
    {
        WriteString(str);
        return *this;
    }

    CArchive& operator>>(uint8_t& v);
    CArchive& operator>>(bool& v);
    CArchive& operator>>(uint16_t& v);
    CArchive& operator>>(int32_t& v);
    CArchive& operator>>(uint32_t& v);
    CArchive& operator>>(uint64_t& v);
    CArchive& operator>>(std::string& str)
    {
        str = ReadString();
        return *this;
    }

    void WriteString(const std::string& str);
    // 8-bit strings are returned as stored; UTF-16 strings become UTF-8.
    std::string ReadString();

    void WriteCount(uint32_t nCount);
    uint32_t ReadCount();

    // Object references (null, earlier object, new object with class record
    // or known-class tag).
    void WriteObject(const CObject* pObj);
    // Returns the object (new, or read earlier under its index) or null.
    // A new object whose own Serialize fails is destroyed before the error
    // leaves; *pbNew tells the caller whether it now owns the result.
    CObject* ReadObject(const CRuntimeClass* pClassRefRequested, bool* pbNew = nullptr);

    // Reads and writes an owning list of T (the object-list encoding):
    // elements are appended; the list is not emptied first.
    template <class T> void SerializeList(std::vector<std::unique_ptr<T>>& list);

    // Bytes still unread in load mode (file length minus what was consumed).
    uint64_t GetRemaining() const { return m_nRemaining + (m_nBufEnd - m_nBufPos); }

    // Nesting guard for recursive readers: damaged data can describe
    // unbounded depth, which must not overflow the stack. More than
    // nMaxDepth nested readers is damaged data.
    class CDepthGuard
    {
    public:
        CDepthGuard(CArchive& ar, int nMaxDepth);
        ~CDepthGuard() { --m_ar.m_nDepth; }
        CDepthGuard(const CDepthGuard&) = delete;
        CDepthGuard& operator=(const CDepthGuard&) = delete;

    private:
        CArchive& m_ar;
    };

private:
    void WriteBytes(const void* p, size_t n);
    void ReadBytes(void* p, size_t n);
    void FillBuffer();
    void CheckStoring() const;
    void CheckLoading() const;
    void WriteClass(const CRuntimeClass* pClass);
    const CRuntimeClass* ReadClass(uint32_t* pnTag);

    CFile* m_pFile;
    Mode m_nMode;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_nBufPos = 0;      // load: next unread byte; store: bytes buffered
    size_t m_nBufEnd = 0;      // load: valid bytes in the buffer
    uint64_t m_nRemaining = 0; // load: bytes still in the file beyond the buffer
    int m_nDepth = 0;

    // Index space: index 0 is null, classes and objects share the sequence.
    uint32_t m_nMapCount = 1;
    // Store: class or object -> index. Open addressing keeps a million
    // objects from costing a million heap nodes.
    class CPtrIndexMap
    {
    public:
        uint32_t Find(const void* p) const; // 0 when absent
        void Insert(const void* p, uint32_t nIndex);

    private:
        struct Slot
        {
            const void* p = nullptr;
            uint32_t nIndex = 0;
        };
        std::vector<Slot> m_slots;
        size_t m_nUsed = 0;
    };
    CPtrIndexMap m_storeMap;
    struct LoadSlot
    {
        const void* p;
        bool bClass;
    };
    std::vector<LoadSlot> m_loadArray; // load: index -> class or object
};

template <class T> void CArchive::SerializeList(std::vector<std::unique_ptr<T>>& list)
{
    if (IsStoring())
    {
        WriteCount(static_cast<uint32_t>(list.size()));
        for (const auto& p : list)
            WriteObject(p.get());
        return;
    }
    uint32_t nCount = ReadCount();
    list.reserve(list.size() + std::min(nCount, LIST_RESERVE));
    for (uint32_t i = 0; i < nCount; ++i)
    {
        bool bNew = false;
        CObject* pObj = ReadObject(T::GetThisClass(), &bNew);
        // A list of the catalogue holds each object once: a null element or a
        // second reference to an earlier object is damaged data.
        if (pObj == nullptr || !bNew)
            throw CArchiveException(CArchiveException::badIndex);
        list.emplace_back(static_cast<T*>(pObj));
    }
}
