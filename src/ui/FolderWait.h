#pragma once
// A window started while tarn-cli holds the data folder (a scheduled update
// in the background) does not give up: it says "后台更新正在进行，完成后自动打开"
// and opens as soon as the update lets go of the folder.
//
// GUI thread, before the main window exists.

#include <string>

class CDataFolderLock;
class QWidget;

// Waits, with the message shown, until *pLock holds strFolder's lock: true
// then; false when the user cancelled or the lock cannot be taken at all.
bool WaitForBackgroundUpdate(CDataFolderLock* pLock, const std::string& strFolder,
                             QWidget* pParent = nullptr);
