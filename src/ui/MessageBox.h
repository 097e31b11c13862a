#pragma once
// Every message box and open-file dialog of the window goes through these
// two helpers: the caption is "Tarn" unless a caller names its own, the
// buttons speak Chinese, and tests install a hook that answers instead of
// showing anything (a modal box would stop an offscreen test forever).
// GUI thread only.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// The caption of every message box that does not name its own.
QString TarnCaption();

struct MessageBoxRequest
{
    QWidget* pParent = nullptr;
    QString strText;
    QString strCaption;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers a message box with the button "pressed" (a QMessageBox::StandardButton).
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;

// Shows a modal message box and returns the button pressed. NoIcon picks
// one from the buttons: information for a lone OK, a question otherwise.
int TarnMessageBox(QWidget* pParent, const QString& strText,
                   const QString& strCaption = TarnCaption(),
                   QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                   QMessageBox::Icon icon = QMessageBox::NoIcon);

// Installs a hook (an empty one restores the real box); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

struct FileDialogRequest
{
    QWidget* pParent = nullptr;
    QString strCaption;
    // Filter entries such as "Text File(*.txt)", the first one selected. An
    // entry may give its patterns after its label, "all files(*.*)(*)":
    // the dialog shows the label and applies the last patterns.
    QStringList filters;
    QString strDefaultSuffix;
    QString strFolder;
    // A save dialog: the hook may set the index of the filter chosen.
    int* pnSelectedFilter = nullptr;
};

// Answers an open-file dialog with a path, or "" for Cancel.
using FileDialogHook = std::function<QString(const FileDialogRequest&)>;

// The open-file dialog for one existing file; "" when cancelled. A name typed
// without an extension gets strDefaultSuffix.
QString TarnGetOpenFileName(QWidget* pParent, const QStringList& filters,
                            const QString& strDefaultSuffix = QString(),
                            const QString& strCaption = QString(),
                            const QString& strFolder = QString());

// The save dialog (it asks before replacing a file); "" when cancelled.
// *pnFilter gets the index of the filter selected last. Each filter's first
// pattern gives the suffix of a name typed without one.
QString TarnGetSaveFileName(QWidget* pParent, const QStringList& filters, int* pnFilter,
                            const QString& strCaption = QString());

FileDialogHook SetFileDialogHook(FileDialogHook hook);
