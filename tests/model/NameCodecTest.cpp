#include <gtest/gtest.h>

#include <iconv.h>
#include <map>
#include <thread>

#include "model/NameCodec.h"

namespace
{
struct CDecodeRow
{
    const char* pszCase;
    const char* pszCharset;
    std::string strBytes;
    std::string strText;
};

TEST(NameCodecTest, DecodesEachKnownSetAndNeverLosesABytesMeaning)
{
    const std::vector<CDecodeRow> rows = {
        {"ascii in auto", "auto", "readme.txt", "readme.txt"},
        {"utf-8 in auto", "auto", "\xe4\xb8\xad\xe6\x96\x87", "中文"},
        {"gbk in auto", "auto", "\xd6\xd0\xce\xc4.txt", "中文.txt"},
        {"gbk, explicit", "GB18030", "\xd6\xd0\xce\xc4", "中文"},
        {"gbk alias", "gbk", "\xd6\xd0\xce\xc4", "中文"},
        {"big5", "Big5", "\xa4\xa4\xa4\xe5", "中文"},
        {"shift_jis", "Shift_JIS", "\x93\xfa\x96\x7b\x8c\xea", "日本語"},
        {"euc-jp", "EUC-JP", "\xc6\xfc\xcb\xdc\xb8\xec", "日本語"},
        {"euc-kr", "EUC-KR", "\xc7\xd1\xb1\xb9\xbe\xee", "한국어"},
        {"windows-1251", "Windows-1251", "\xcf\xf0\xe8\xe2\xe5\xf2", "Привет"},
        {"koi8-r", "KOI8-R", "\xf0\xd2\xc9\xd7\xc5\xd4", "Привет"},
        {"latin-1", "ISO-8859-1", "caf\xe9", "café"},
        // Neither UTF-8 nor a whole GB18030 sequence: the stray byte keeps
        // a visible character of its own.
        {"lone high byte at the end", "auto", "caf\xe9", "café"},
        {"gbk then a stray byte", "auto", "\xd6\xd0\xff", "中ÿ"},
        {"utf-8 site with a stray byte", "UTF-8", "a\x80z", "a€z"},
        {"overlong utf-8 is not utf-8", "auto", "\xc0\xaf", "蜡"},
        {"unknown name means auto", "no-such-set", "\xd6\xd0", "中"},
        // Forms beyond one or two bytes, among two-byte ones.
        {"gb18030 four bytes", "GB18030", "\xd6\xd0\x95\x32\x82\x36", "中𠀀"},
        {"shift_jis half-width kana", "Shift_JIS", "\xb1\x93\xfa\\", "ｱ日\\"},
        {"euc-jp three bytes", "EUC-JP", "\x8f\xb0\xa1\xc6\xfc", "丂日"},
    };
    for (const CDecodeRow& row : rows)
    {
        CNameCodec codec(row.pszCharset);
        EXPECT_EQ(codec.Decode(row.strBytes), row.strText) << row.pszCase;
        EXPECT_TRUE(IsValidUtf8(codec.Decode(row.strBytes))) << row.pszCase;
    }
}

// Every one- and two-byte name that iconv reads whole decodes to what iconv
// gives, in every set (most names take the table path, not iconv).
TEST(NameCodecTest, EveryShortNameDecodesAsIconvReadsIt)
{
    for (size_t nSet = 1; nSet < GetKnownCharsets().size(); ++nSet)
    {
        const std::string& strSet = GetKnownCharsets()[nSet];
        CNameCodec codec(strSet);
        const std::map<std::string, const char*> ICONV_NAMES = {
            {"Windows-1251", "CP1251"}, {"Windows-1252", "CP1252"}, {"Shift_JIS", "CP932"}};
        auto it = ICONV_NAMES.find(strSet);
        iconv_t cd = iconv_open("UTF-8", it != ICONV_NAMES.end() ? it->second : strSet.c_str());
        ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << strSet;
        int nMismatches = 0;
        for (unsigned n = 0x80; n < 0x10000 && nMismatches < 5; ++n)
        {
            std::string strBytes;
            if (n > 0xFF)
                strBytes += static_cast<char>(n >> 8);
            strBytes += static_cast<char>(n & 0xFF);
            char out[32];
            char* pIn = strBytes.data();
            size_t nIn = strBytes.size();
            char* pOut = out;
            size_t nOut = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &pIn, &nIn, &pOut, &nOut) == static_cast<size_t>(-1) || nIn != 0)
                continue;
            std::string strExpected(out, static_cast<size_t>(pOut - out));
            if (codec.Decode(strBytes) != strExpected)
            {
                ++nMismatches;
                ADD_FAILURE() << strSet << " bytes " << std::hex << n;
            }
        }
        iconv_close(cd);
    }
}

TEST(NameCodecTest, EncodesTypedTextBackToTheSitesBytes)
{
    std::string strBytes;
    ASSERT_TRUE(CNameCodec("GB18030").Encode("中文.txt", &strBytes));
    EXPECT_EQ(strBytes, "\xd6\xd0\xce\xc4.txt");
    ASSERT_TRUE(CNameCodec("auto").Encode("中文", &strBytes));
    EXPECT_EQ(strBytes, "中文");
    EXPECT_FALSE(CNameCodec("Windows-1251").Encode("中文", &strBytes));
}

// A name that does not read back as its own bytes may read as another
// name does: node addresses then show it as its bytes.
TEST(NameCodecTest, TellsNamesWhoseTextIsExactlyTheirOwn)
{
    struct
    {
        const char* pszCharset;
        const char* pszBytes;
        bool bExact;
    } rows[] = {
        {"auto", "中文.txt", true},
        {"auto", "\xd6\xd0\xce\xc4.txt", true}, // GB18030, the fallback
        {"auto", "\x80.txt", false},            // no GB18030 byte: a stand-in
        {"GB18030", "\xe4\xb8\xad\xe6\x96\x87", true},
        {"Big5", "\xa4\x51", true},  // 十
        {"Big5", "\xa2\xcc", false}, // 十 again, its second spelling
        {"UTF-8", "a\xff", false},
        {"Windows-1252", "\x81", false}, // a hole in the set
        {"Windows-1251", "\xcf\xe0\xef\xea\xe0", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CNameCodec(row.pszCharset).IsDecodedExactly(row.pszBytes), row.bExact)
            << row.pszCharset << " " << row.pszBytes;
}

TEST(NameCodecTest, NamesOfTheSetsAreNormalised)
{
    EXPECT_EQ(NormalizeCharsetName("gb2312"), "GB18030");
    EXPECT_EQ(NormalizeCharsetName("SJIS"), "Shift_JIS");
    EXPECT_EQ(NormalizeCharsetName("AUTO"), "auto");
    EXPECT_EQ(NormalizeCharsetName("EBCDIC"), "");
    EXPECT_EQ(GetKnownCharsets().front(), "auto");
    EXPECT_EQ(GetKnownCharsets().size(), 11u);
}

TEST(NameCodecTest, ThreadsDecodeAtTheSameTime)
{
    auto decodeMany = []
    {
        CNameCodec codec("auto");
        for (int i = 0; i < 2000; ++i)
            ASSERT_EQ(codec.Decode("\xd6\xd0\xce\xc4"), "中文");
    };
    std::thread a(decodeMany);
    std::thread b(decodeMany);
    a.join();
    b.join();
}
} // namespace
