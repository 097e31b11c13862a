#include "model/ProgramFolder.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace
{
std::string& ProgramFolderStorage()
{
    static std::string s_strFolder = ChooseProgramFolder();
    return s_strFolder;
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
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    std::string str = exe.string();
    size_t nSlash = str.rfind('/');
    return nSlash == std::string::npos ? std::string() : str.substr(0, nSlash);
}

std::string ChooseProgramFolder()
{
    std::string strExe = GetExecutableFolder();
    if (!strExe.empty() && ::access(strExe.c_str(), W_OK) == 0)
        return strExe;
    std::string strBase;
    if (const char* pszXdg = std::getenv("XDG_DATA_HOME"); pszXdg != nullptr && *pszXdg == '/')
        strBase = pszXdg;
    else if (const char* pszHome = std::getenv("HOME"); pszHome != nullptr && *pszHome != '\0')
        strBase = std::string(pszHome) + "/.local/share";
    else
        return strExe;
    std::string strFolder = strBase + "/tarn";
    std::error_code ec;
    std::filesystem::create_directories(strFolder, ec);
    return strFolder;
}
