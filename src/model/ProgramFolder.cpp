#include "model/ProgramFolder.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
std::string& ProgramFolderStorage()
{
    static std::string s_strFolder = ChooseProgramFolder();
    return s_strFolder;
}

// $XDG_DATA_HOME/tarn; a relative XDG_DATA_HOME is invalid and ignored.
std::string XdgDataFolder(const char* pszXdgDataHome, const char* pszHome)
{
    if (pszXdgDataHome != nullptr && *pszXdgDataHome == '/')
        return std::string(pszXdgDataHome) + "/tarn";
    if (pszHome != nullptr && *pszHome != '\0')
        return std::string(pszHome) + "/.local/share/tarn";
    return {};
}

bool IsFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}
} // namespace

const std::string& GetProgramFolder()
{
    return ProgramFolderStorage();
}

void SetProgramFolder(const std::string& strFolder)
{
    std::string str = strFolder;
    while (str.size() > 1 && str.back() == '/')
        str.pop_back();
    ProgramFolderStorage() = str;
}

std::string GetExecutableFolder()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    std::string str = exe.string();
    size_t nSlash = str.rfind('/');
    return nSlash == std::string::npos ? std::string() : str.substr(0, nSlash);
}

bool IsInstalledLayout(const std::string& strExeFolder)
{
    fs::path exe = fs::path(strExeFolder).lexically_normal();
    if (!exe.has_filename())
        exe = exe.parent_path();
    if (exe.filename() != "bin")
        return false;
    std::error_code ec;
    return fs::is_directory(exe.parent_path() / "share/tarn", ec);
}

std::string ChooseProgramFolderFor(const std::string& strExeFolder, const char* pszXdgDataHome,
                                   const char* pszHome)
{
    bool bBeside = !strExeFolder.empty() && !IsInstalledLayout(strExeFolder) &&
                   ::access(strExeFolder.c_str(), W_OK) == 0;
    if (bBeside)
        return strExeFolder;
    std::string strXdg = XdgDataFolder(pszXdgDataHome, pszHome);
    return strXdg.empty() ? strExeFolder : strXdg;
}

std::string ChooseProgramFolder()
{
    std::string strExe = GetExecutableFolder();
    std::string strFolder =
        ChooseProgramFolderFor(strExe, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (strFolder != strExe)
    {
        std::error_code ec;
        fs::create_directories(strFolder, ec);
    }
    return strFolder;
}

bool ChooseDataFolder(const std::string* pstrNamed, std::string* pstrFolder, std::string* pstrError)
{
    std::string strFolder;
    if (pstrNamed != nullptr)
        strFolder = *pstrNamed;
    else if (const char* pszHome = std::getenv("TARN_HOME"); pszHome != nullptr && *pszHome != '\0')
        strFolder = pszHome;
    else
    {
        *pstrFolder = ChooseProgramFolder();
        return true;
    }
    std::error_code ec;
    if (fs::exists(strFolder, ec) && !fs::is_directory(strFolder, ec))
    {
        *pstrError = "the data folder " + strFolder + " is not a folder";
        return false;
    }
    fs::create_directories(strFolder, ec);
    if (ec || !fs::is_directory(strFolder, ec))
    {
        *pstrError = "cannot create the data folder " + strFolder + ": " +
                     (ec ? ec.message() : std::string("not a folder"));
        return false;
    }
    fs::path absolute = fs::absolute(strFolder, ec);
    *pstrFolder = ec ? strFolder : absolute.lexically_normal().string();
    while (pstrFolder->size() > 1 && pstrFolder->back() == '/')
        pstrFolder->pop_back();
    return true;
}

std::string FindHelpFile(const std::string& strExeFolder)
{
    if (strExeFolder.empty())
        return {};
    fs::path exe(strExeFolder);
    const fs::path candidates[] = {
        exe / "help.pdf",
        exe / "../share/tarn/help.pdf",
        exe / "../share/doc/tarn/help.pdf",
    };
    for (const fs::path& path : candidates)
        if (IsFile(path))
            return path.lexically_normal().string();
    return {};
}
