#pragma once
// The program folder: where site.ds and Data/ live. By default the folder of
// the executable; when that folder is not writable, $XDG_DATA_HOME/tarn
// (~/.local/share/tarn). Set once at start-up, before any thread starts.

#include <string>

// The process-wide program folder (no trailing "/").
const std::string& GetProgramFolder();
void SetProgramFolder(const std::string& strFolder);

// The folder of the running executable, or "" when it cannot be found.
std::string GetExecutableFolder();
// The executable's folder when writable, otherwise the XDG data folder.
std::string ChooseProgramFolder();
