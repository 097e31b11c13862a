#pragma once
// The program folder: where site.ds and Data/ live. An installed program (its
// executable in the bin folder of an install prefix that holds share/tarn)
// keeps its data in $XDG_DATA_HOME/tarn (~/.local/share/tarn), so that data
// never lands in a system folder even when root could write it. Run from the
// build tree or an unpacked portable folder, the data lies beside the
// executable, unless that folder is not writable. Set once at start-up,
// before any thread starts.

#include <string>

// The process-wide program folder (no trailing "/").
const std::string& GetProgramFolder();
void SetProgramFolder(const std::string& strFolder);

// The folder of the running executable, or "" when it cannot be found.
std::string GetExecutableFolder();
// True when strExeFolder is <prefix>/bin of an installed Tarn (<prefix>/share/tarn exists).
bool IsInstalledLayout(const std::string& strExeFolder);
// The data folder for the running executable (creates the XDG one when chosen).
std::string ChooseProgramFolder();
// The same rule for any executable folder and environment (null = unset);
// creates nothing.
std::string ChooseProgramFolderFor(const std::string& strExeFolder, const char* pszXdgDataHome,
                                   const char* pszHome);

// The data folder of one run, as both programs choose it: strNamed (the
// --data-dir option) when given, else $TARN_HOME when set, else
// ChooseProgramFolder(). A named folder must be a folder and is created when
// missing; false with the reason in *pstrError otherwise. The result is
// absolute.
[[nodiscard]] bool ChooseDataFolder(const std::string* pstrNamed, std::string* pstrFolder,
                                    std::string* pstrError);

// help.pdf for an executable folder: beside the executable first (build tree,
// portable folder), else in the install prefix's share folders; "" when none exists.
std::string FindHelpFile(const std::string& strExeFolder);
