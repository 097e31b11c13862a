#include <gtest/gtest.h>

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
    };
    for (const CDecodeRow& row : rows)
    {
        CNameCodec codec(row.pszCharset);
        EXPECT_EQ(codec.Decode(row.strBytes), row.strText) << row.pszCase;
        EXPECT_TRUE(IsValidUtf8(codec.Decode(row.strBytes))) << row.pszCase;
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
