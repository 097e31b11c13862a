// The archive encoding, byte for byte: primitives, string and count prefixes,
// object references and the checks of the reader.

#include <gtest/gtest.h>

#include "model/Archive.h"
#include "model/FTPEntry.h"
#include "model/FTPSite.h"
#include "support/TreeBuilder.h"

namespace
{
using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& str)
{
    Bytes out;
    for (size_t i = 0; i + 1 < str.size() + 1; ++i)
    {
        if (str[i] == ' ')
            continue;
        out.push_back(static_cast<uint8_t>(std::stoi(str.substr(i, 2), nullptr, 16)));
        ++i;
    }
    return out;
}

template <class Fn> Bytes Store(Fn fn)
{
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        fn(ar);
        ar.Close();
    }
    return file.GetBytes();
}

Bytes Prefix(const Bytes& bytes, size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(std::min(n, bytes.size())));
}

// The tree of the reference example: root { pub { a.txt (5) }, readme (10) }.
void BuildExample(CFTPDir& root)
{
    CFTPDir* pPub = AddDir(&root, "pub", 1);
    AddFile(pPub, "a.txt", 5, 1);
    AddFile(&root, "readme", 10, 1);
}

const char* EXAMPLE_CONTENT = "00 0100 FFFF 0100 0700 43465450446972 03 707562 0000 0100"
                              " FFFF 0100 0800 4346545046696C65 0500000000000000 05 612E747874"
                              " 0100 0380 0A00000000000000 06 726561646D65";
} // namespace

TEST(ArchiveTest, ReferenceExampleMatchesByteForByte)
{
    CFTPSite site;
    BuildExample(*site.m_pRoot);

    Bytes content = Store([&](CArchive& ar) { site.m_pRoot->Serialize(ar); });
    EXPECT_EQ(content, Hex(EXAMPLE_CONTENT));
    EXPECT_EQ(content.size(), 71u);

    Bytes state = Store([&](CArchive& ar) { site.SerializeState(ar, site.m_pRoot.get()); });
    EXPECT_EQ(state, Hex("01000000 01000000 01000000"));

    // And back: the bytes give the same tree and marks.
    CFTPSite loaded;
    CMemFile contentFile(content);
    CArchive arContent(&contentFile, CArchive::load);
    loaded.m_pRoot->Serialize(arContent);
    CMemFile stateFile(state);
    CArchive arState(&stateFile, CArchive::load);
    loaded.SerializeState(arState, loaded.m_pRoot.get());
    EXPECT_EQ(DescribeTree(*loaded.m_pRoot), DescribeTree(*site.m_pRoot));
    EXPECT_TRUE(ParentLinksConsistent(*loaded.m_pRoot));
}

TEST(ArchiveTest, StringPrefixes)
{
    struct Case
    {
        size_t nLength;
        const char* pszPrefix;
    };
    const Case cases[] = {
        {0, "00"},
        {1, "01"},
        {254, "FE"},
        {255, "FF FF00"},
        {65533, "FF FDFF"},
        {65534, "FF FFFF FEFF0000"},
        {65535, "FF FFFF FFFF0000"},
        {70000, "FF FFFF 70110100"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.nLength);
        std::string str(c.nLength, 'x');
        Bytes bytes = Store([&](CArchive& ar) { ar << str; });
        Bytes prefix = Hex(c.pszPrefix);
        ASSERT_EQ(bytes.size(), prefix.size() + c.nLength);
        EXPECT_EQ(Prefix(bytes, prefix.size()), prefix);

        CMemFile file(bytes);
        CArchive ar(&file, CArchive::load);
        EXPECT_EQ(ar.ReadString(), str);
        EXPECT_EQ(ar.GetRemaining(), 0u);
    }
}

TEST(ArchiveTest, SixtyFourBitStringLengthForms)
{
    // The 64-bit form is accepted for small lengths and refused above 0x7FFFFFFF.
    Bytes ok = Hex("FF FFFF FFFFFFFF 0300000000000000 616263");
    CMemFile okFile(ok);
    CArchive arOk(&okFile, CArchive::load);
    EXPECT_EQ(arOk.ReadString(), "abc");

    Bytes big = Hex("FF FFFF FFFFFFFF 0000008000000000");
    CMemFile bigFile(big);
    CArchive arBig(&bigFile, CArchive::load);
    try
    {
        arBig.ReadString();
        FAIL() << "no exception";
    }
    catch (const CArchiveException& e)
    {
        EXPECT_EQ(e.m_cause, CArchiveException::genericException);
    }
}

TEST(ArchiveTest, Utf16StringsAreReadAsUtf8)
{
    struct Case
    {
        const char* pszBytes;
        std::string strExpected;
    };
    const Case cases[] = {
        // "中文" with a one-byte count of UTF-16 characters.
        {"FF FEFF 02 2D4E 8765", "中文"},
        // The same with the 16-bit count form (where 0xFFFE is a plain length).
        {"FF FEFF FF 0200 2D4E 8765", "中文"},
        // A surrogate pair (U+1F600) and a lone surrogate (becomes '?').
        {"FF FEFF 03 3DD8 00DE 00D8", "\xF0\x9F\x98\x80?"},
        {"FF FEFF 00", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszBytes);
        CMemFile file(Hex(c.pszBytes));
        CArchive ar(&file, CArchive::load);
        EXPECT_EQ(ar.ReadString(), c.strExpected);
    }
}

TEST(ArchiveTest, CountPrefixes)
{
    struct Case
    {
        uint32_t nCount;
        const char* pszBytes;
    };
    const Case cases[] = {
        {0, "0000"},
        {65534, "FEFF"},
        {65535, "FFFF FFFF0000"},
        {100000, "FFFF A0860100"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.nCount);
        Bytes bytes = Store([&](CArchive& ar) { ar.WriteCount(c.nCount); });
        EXPECT_EQ(bytes, Hex(c.pszBytes));
        CMemFile file(bytes);
        CArchive ar(&file, CArchive::load);
        EXPECT_EQ(ar.ReadCount(), c.nCount);
    }
}

TEST(ArchiveTest, LongKnownClassFormAfterManyFolders)
{
    // 32765 folders come before the first file: the file class takes index
    // 0x7FFF, so every later file carries the long known-class form.
    CFTPDir root;
    for (int i = 0; i < 32765; ++i)
        AddDir(&root, "");
    AddFile(&root, "a", 1);
    AddFile(&root, "b", 2);

    Bytes bytes = Store([&](CArchive& ar) { root.Serialize(ar); });
    // The last file: tag 7FFF, 32-bit 0x80007FFF, size 2, name "b".
    Bytes tail = Hex("FF7F FF7F0080 0200000000000000 01 62");
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(Bytes(bytes.end() - static_cast<long>(tail.size()), bytes.end()), tail);

    CFTPDir loaded;
    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    loaded.Serialize(ar);
    ASSERT_EQ(loaded.m_dirList.size(), 32765u);
    ASSERT_EQ(loaded.m_fileList.size(), 2u);
    EXPECT_EQ(loaded.m_fileList[1]->m_strName, "b");
    EXPECT_EQ(loaded.m_fileList[1]->m_nSize, 2u);
}

TEST(ArchiveTest, ReaderChecksRaiseTheRightCause)
{
    struct Case
    {
        const char* pszName;
        const char* pszBytes;
        int nCause;
    };
    const Case cases[] = {
        {"schema 2", "00 0100 FFFF 0200 0700 43465450446972", CArchiveException::badSchema},
        {"unknown class", "00 0100 FFFF 0100 0700 43465450446973", CArchiveException::badClass},
        {"class name case differs", "00 0100 FFFF 0100 0700 43667470446972",
         CArchiveException::badClass},
        {"class name of 64 bytes", "00 0100 FFFF 0100 4000", CArchiveException::badClass},
        {"class name cut short", "00 0100 FFFF 0100 0700 434654", CArchiveException::badClass},
        {"file where a folder belongs", "00 0100 FFFF 0100 0800 4346545046696C65",
         CArchiveException::badClass},
        {"known class 0", "00 0100 0080", CArchiveException::badIndex},
        {"known class not yet seen", "00 0100 0580", CArchiveException::badIndex},
        {"object index not yet given", "00 0100 0500", CArchiveException::badIndex},
        {"null element", "00 0100 0000", CArchiveException::badIndex},
        {"second reference to an object", "00 0200 FFFF 0100 0700 43465450446972 00 0000 0000 0200",
         CArchiveException::badIndex},
        {"known-class tag naming an object",
         "00 0200 FFFF 0100 0700 43465450446972 00 0000 0000 0280", CArchiveException::badIndex},
        {"truncated count", "00 01", CArchiveException::endOfFile},
        {"string longer than the file", "05 6162", CArchiveException::endOfFile},
        {"count far beyond the file", "00 FFFF FFFFFFFF", CArchiveException::endOfFile},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        CFTPDir root;
        CMemFile file(Hex(c.pszBytes));
        CArchive ar(&file, CArchive::load);
        try
        {
            root.Serialize(ar);
            ADD_FAILURE() << "no exception";
        }
        catch (const CArchiveException& e)
        {
            EXPECT_EQ(e.m_cause, c.nCause);
        }
        EXPECT_TRUE(ParentLinksConsistent(root));
    }
}

TEST(ArchiveTest, DirectionIsEnforced)
{
    CMemFile file;
    CArchive store(&file, CArchive::store);
    uint32_t v;
    try
    {
        store >> v;
        FAIL();
    }
    catch (const CArchiveException& e)
    {
        EXPECT_EQ(e.m_cause, CArchiveException::writeOnly);
    }
    CMemFile file2(Bytes{1, 2, 3, 4});
    CArchive load(&file2, CArchive::load);
    try
    {
        load << uint32_t{1};
        FAIL();
    }
    catch (const CArchiveException& e)
    {
        EXPECT_EQ(e.m_cause, CArchiveException::readOnly);
    }
}

TEST(ArchiveTest, PrimitivesAreLittleEndian)
{
    Bytes bytes = Store(
        [](CArchive& ar)
        {
            ar << uint8_t{0xAB} << true << uint16_t{0x1234} << int32_t{-2} << uint32_t{0x89ABCDEF}
               << uint64_t{0x0102030405060708};
        });
    EXPECT_EQ(bytes, Hex("AB 01 3412 FEFFFFFF EFCDAB89 0807060504030201"));

    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    uint8_t b;
    bool f;
    uint16_t w;
    int32_t n;
    uint32_t dw;
    uint64_t q;
    ar >> b >> f >> w >> n >> dw >> q;
    EXPECT_EQ(b, 0xAB);
    EXPECT_TRUE(f);
    EXPECT_EQ(w, 0x1234);
    EXPECT_EQ(n, -2);
    EXPECT_EQ(dw, 0x89ABCDEFu);
    EXPECT_EQ(q, 0x0102030405060708u);
    EXPECT_THROW(ar >> b, CArchiveException);
}

TEST(ArchiveTest, NestingBeyondTheBoundIsDamagedData)
{
    // 1,200 nested folders each holding one sub-folder: the reader stops at
    // its depth bound instead of overflowing the stack, keeping what it read.
    const int nLevels = 1200;
    Bytes bytes = Hex("00 0100 FFFF 0100 0700 43465450446972");
    for (int i = 0; i < nLevels; ++i)
    {
        Bytes level = Hex("01 61 0100 0180");
        bytes.insert(bytes.end(), level.begin(), level.end());
    }
    CFTPDir root;
    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    try
    {
        root.Serialize(ar);
        FAIL();
    }
    catch (const CArchiveException& e)
    {
        EXPECT_EQ(e.m_cause, CArchiveException::genericException);
    }
    EXPECT_TRUE(ParentLinksConsistent(root));
}
