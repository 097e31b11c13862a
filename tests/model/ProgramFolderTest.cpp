// Where the data lives: beside the executable in a build tree or portable
// folder, in the XDG data folder for an installed program; where help.pdf is
// found.

#include <gtest/gtest.h>

#include <filesystem>

#include "model/ProgramFolder.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

TEST(ProgramFolderTest, InstalledProgramsKeepDataInTheXdgFolder)
{
    CTempDir dir;
    fs::create_directories(dir / "build/src/app");
    fs::create_directories(dir / "usr/bin");
    fs::create_directories(dir / "usr/share/tarn");
    fs::create_directories(dir / "portable/bin"); // a folder named bin, but no share/tarn
    const std::string strXdg = dir / "xdg";
    const std::string strHome = dir / "home";

    struct Case
    {
        const char* pszName;
        std::string strExe;
        const char* pszXdg;
        const char* pszHome;
        std::string strExpected;
    };
    const Case cases[] = {
        {"build tree", dir / "build/src/app", strXdg.c_str(), strHome.c_str(),
         dir / "build/src/app"},
        {"installed", dir / "usr/bin", strXdg.c_str(), strHome.c_str(), strXdg + "/tarn"},
        {"installed, trailing slash", dir / "usr/bin/", strXdg.c_str(), nullptr, strXdg + "/tarn"},
        {"installed, no XDG", dir / "usr/bin", nullptr, strHome.c_str(),
         strHome + "/.local/share/tarn"},
        {"installed, relative XDG", dir / "usr/bin", "rel", strHome.c_str(),
         strHome + "/.local/share/tarn"},
        {"installed, no XDG nor HOME", dir / "usr/bin", nullptr, nullptr, dir / "usr/bin"},
        {"portable folder named bin", dir / "portable/bin", strXdg.c_str(), strHome.c_str(),
         dir / "portable/bin"},
        {"folder not writable", dir / "gone", strXdg.c_str(), strHome.c_str(), strXdg + "/tarn"},
        {"executable not found", "", nullptr, strHome.c_str(), strHome + "/.local/share/tarn"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseProgramFolderFor(c.strExe, c.pszXdg, c.pszHome), c.strExpected)
            << c.pszName;
    EXPECT_FALSE(fs::exists(strXdg)) << "choosing must not create folders";
}

TEST(ProgramFolderTest, HelpFileBesideTheExecutableComesFirst)
{
    CTempDir dir;
    fs::create_directories(dir / "usr/bin");
    fs::create_directories(dir / "usr/share/tarn");
    fs::create_directories(dir / "usr/share/doc/tarn");
    WriteFileBytes(dir / "usr/share/doc/tarn/help.pdf", "%PDF");
    EXPECT_EQ(FindHelpFile(dir / "usr/bin"), dir / "usr/share/doc/tarn/help.pdf");
    WriteFileBytes(dir / "usr/share/tarn/help.pdf", "%PDF");
    EXPECT_EQ(FindHelpFile(dir / "usr/bin"), dir / "usr/share/tarn/help.pdf");
    WriteFileBytes(dir / "usr/bin/help.pdf", "%PDF");
    EXPECT_EQ(FindHelpFile(dir / "usr/bin"), dir / "usr/bin/help.pdf");
    EXPECT_EQ(FindHelpFile(dir / "elsewhere"), "");
}
