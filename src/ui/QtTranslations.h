#pragma once
// Qt's own texts (file dialogs, standard buttons, the edit fields' context
// menus) in Simplified Chinese, like the program's own, whatever the desktop's
// language: the translations Qt installs, from its translations folder.
// GUI thread, once the application object exists.

// False when the translations are not installed (Qt then speaks English).
bool InstallQtTranslations();
