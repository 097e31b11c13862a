// tarn-screenshot: the picture of the main window for the README and the
// user guide, made the way a user gets there. Four sites: two on a local FTP
// server (updated twice, with new files served in between, so that some
// entries are unread), one that cannot be reached, one never updated. A
// folder is selected (and, with --search, a query typed into the search
// box) and the window is saved as a PNG.
//
//   tarn-screenshot --data-dir DIR --served DIR --port N --select A/B
//                   [--search QUERY] --out FILE
//
// Run on any Qt platform (scripts/screenshot.sh uses the offscreen one).

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTreeWidgetItem>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "ui/CommandIds.h"
#include "ui/DirView.h"
#include "ui/MainFrame.h"
#include "ui/SearchBox.h"
#include "ui/TarnView.h"
#include "update/UpdateEngine.h"

namespace
{
struct COptions
{
    QString strDataDir;
    QString strServed;
    int nPort = 0;
    QString strSelect;
    QString strSearch;
    QString strOut;
};

bool Parse(const QStringList& args, COptions* pOptions)
{
    for (qsizetype i = 1; i + 1 < args.size(); i += 2)
    {
        const QString& strName = args[i];
        const QString& strValue = args[i + 1];
        if (strName == "--data-dir")
            pOptions->strDataDir = strValue;
        else if (strName == "--served")
            pOptions->strServed = strValue;
        else if (strName == "--port")
            pOptions->nPort = strValue.toInt();
        else if (strName == "--select")
            pOptions->strSelect = strValue;
        else if (strName == "--search")
            pOptions->strSearch = strValue;
        else if (strName == "--out")
            pOptions->strOut = strValue;
        else
            return false;
    }
    return !pOptions->strDataDir.isEmpty() && !pOptions->strServed.isEmpty() &&
           pOptions->nPort > 0 && !pOptions->strOut.isEmpty();
}

void AddSite(CTarnDoc& doc, const char* pszHost, int nPort, bool bAnonymous,
             const char* pszNickname)
{
    CSiteInfo info;
    info.m_strHost = pszHost;
    info.m_nPort = nPort;
    info.m_bAnonymous = bAnonymous;
    info.m_strUser = "user";
    info.m_strPassword = "pass";
    info.m_strNickname = pszNickname;
    (void)doc.AddSite(info);
}

// Runs the event loop until every site the engine holds is done.
void WaitForUpdates(const CTarnDoc& doc)
{
    QElapsedTimer clock;
    clock.start();
    auto busy = [&]
    {
        for (const auto& pSite : doc.m_siteList)
            if (IsSiteBusy(*pSite))
                return true;
        return !IsEngineIdle();
    };
    while (busy() && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    // The status pane's last tick and the tree's last notices.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1200)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QTreeWidgetItem* FindChild(QTreeWidgetItem* pParent, const QString& strLabel)
{
    for (int i = 0; i < pParent->childCount(); ++i)
        if (pParent->child(i)->text(0) == strLabel)
            return pParent->child(i);
    return nullptr;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    COptions options;
    if (!Parse(QCoreApplication::arguments(), &options))
    {
        std::fputs("usage: tarn-screenshot --data-dir DIR --served DIR --port N "
                   "[--select A/B] [--search QUERY] --out FILE\n",
                   stderr);
        return 2;
    }
    SetProgramFolder(options.strDataDir.toStdString());
    CMainFrame frame;
    CTarnDoc& doc = frame.GetDoc();
    (void)doc.OnNewDocument();
    AddSite(doc, "127.0.0.1", options.nPort, false, "开源软件镜像");
    AddSite(doc, "localhost", options.nPort, true, "Public archive");
    AddSite(doc, "127.0.0.1", 1, true, "旧服务器"); // nothing listens: it fails
    AddSite(doc, "ftp.example.org", 21, true, "");  // never updated
    frame.OnInitialUpdate();
    frame.resize(1100, 680);
    frame.show();

    // First update: everything is new; read it all, then new files arrive.
    CUpdateProgress progress; // the status pane shows the second run only
    for (size_t i = 0; i < 3; ++i)
        UpdateSelected(doc.m_siteList, doc.m_siteList[i]->m_pRoot.get(), progress);
    WaitForUpdates(doc);
    doc.MarkSitesRead(UNREAD_ALL);
    std::filesystem::path served = options.strServed.toStdString();
    std::ofstream(served / "pub/linux/内核更新说明.txt") << "新版本";
    std::ofstream(served / "pub/linux/tarn-1.3.tar.gz") << std::string(2500000, 't');
    std::filesystem::create_directories(served / "pub/linux/测试版");
    frame.GetDirView().FillTree();
    // The second run from the window, site by site: only the local ones (the
    // example site must never be contacted).
    CDirView& tree = frame.GetDirView();
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
    {
        auto* pItem = static_cast<CDirItem*>(tree.topLevelItem(i));
        const std::string& strHost = pItem->GetSite()->m_strHost;
        if (strHost != "127.0.0.1" && strHost != "localhost")
            continue;
        tree.setCurrentItem(pItem);
        frame.Action(ID_UPDATE_SELECTED)->trigger();
    }
    WaitForUpdates(doc);

    // Show the chosen folder as a user would, by selecting it in the tree.
    QTreeWidgetItem* pItem = tree.invisibleRootItem();
    QStringList path = options.strSelect.split('/', Qt::SkipEmptyParts);
    for (const QString& strLabel : path)
    {
        QTreeWidgetItem* pNext = FindChild(pItem, strLabel);
        if (pNext == nullptr)
            break;
        tree.setCurrentItem(pNext);
        pNext->setExpanded(true);
        pItem = pNext;
    }
    // One read row selected, so the picture shows selection and unread apart.
    CTarnView& list = frame.GetFileView();
    for (int i = 0; i < list.model()->rowCount(); ++i)
        if (list.model()->index(i, 0).data().toString() == QStringLiteral("ChangeLog"))
            list.selectRow(i);
    tree.setFocus();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!options.strSearch.isEmpty())
    {
        // Typed as a user types: the pause, the search, its rows and count.
        CSearchBox& box = frame.GetSearchBox();
        box.Combo()->lineEdit()->setFocus();
        box.Combo()->lineEdit()->setText(options.strSearch);
        settle.restart();
        while (settle.elapsed() < CSearchBox::TYPING_PAUSE_MS + 100 || !box.IsIdle())
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        settle.restart();
        while (settle.elapsed() < 300)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    QPixmap picture = frame.grab();
    if (!picture.save(options.strOut, "PNG"))
    {
        std::fprintf(stderr, "tarn-screenshot: cannot write %s\n", qPrintable(options.strOut));
        return 1;
    }
    frame.close();
    return 0;
}
