// The main window's commands through the real document and views: site
// commands and their refusals, commands without a selection, history
// enabling, switching, marking read, help, thread count, and what a running
// walk refuses.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>
#include <fstream>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "ui/FindDialog.h"
#include "ui/SiteDlg.h"
#include "ui/SiteInfoDlg.h"
#include "ui/UpdateNumSet.h"
#include "update/EngineState.h"

namespace
{
// Fills the site dialog as a user would and presses OK.
void AnswerSiteDialog(const QString& strHost, const QString& strNickname)
{
    AnswerNextDialog<CSiteDlg>(
        [=](CSiteDlg& dlg)
        {
            dlg.findChild<QLineEdit*>("host")->setText(strHost);
            dlg.findChild<QLineEdit*>("nickname")->setText(strNickname);
            if (!dlg.findChild<QCheckBox*>("anonymous")->isChecked())
                dlg.findChild<QCheckBox*>("anonymous")->click();
            dlg.findChild<QPushButton*>("ok")->click();
        });
}

const QString SITE_UPDATING = QStringLiteral("站点正在更新，请先终止更新！");
} // namespace

class MainFrameTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    CFTPSite* m_pSite = nullptr;
    CFTPDir* m_pPub = nullptr;

    CMainFrame& Frame() const { return m_pWindow->Frame(); }
    void Run(int nId) const { Frame().Action(nId)->trigger(); }
    CDirItem* FolderItemPub()
    {
        CDirItem* pSite = m_pWindow->TopItem(0);
        pSite->setExpanded(true);
        return CWindowFixture::Child(pSite, 0);
    }

private slots:
    void init()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pSite = m_pWindow->AddSite("h");
        m_pPub = AddDir(m_pSite->m_pRoot.get(), "pub", 1);
        AddFile(m_pPub, "a", 0, 1);
        AddFile(m_pSite->m_pRoot.get(), "readme");
        m_pWindow->Tree().FillTree();
    }

    void cleanup() { m_pWindow.reset(); }

    void AddingADuplicateIsRefusedAndAddsNoItem()
    {
        CMessageBoxRecorder boxes;
        AnswerSiteDialog("new.example", "");
        Run(ID_SITE_ADD);
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"h", "new.example"}));
        QVERIFY(boxes.Requests().isEmpty());

        // Refused, the dialog comes back; cancelled then, nothing is added.
        AnswerNextDialog<CSiteDlg>(
            [&](CSiteDlg& dlg)
            {
                dlg.findChild<QLineEdit*>("host")->setText("new.example");
                dlg.findChild<QCheckBox*>("anonymous")->click();
                AnswerNextDialog<CSiteDlg>([](CSiteDlg& again)
                                           { again.findChild<QPushButton*>("cancel")->click(); });
                dlg.findChild<QPushButton*>("ok")->click();
            });
        Run(ID_SITE_ADD);
        QCOMPARE(boxes.LastText(), QStringLiteral("站点已有！"));
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"h", "new.example"}));
        QCOMPARE(m_pWindow->Doc().m_siteList.size(), size_t(2));
    }

    void ASecondServerOnTheSameHostGetsASiteOfItsOwnAfterTheRefusal()
    {
        auto fill = [](CSiteDlg& dlg)
        {
            dlg.findChild<QLineEdit*>("host")->setText("new.example");
            dlg.findChild<QLineEdit*>("user")->setText("bob");
            dlg.findChild<QLineEdit*>("password")->setText("pw");
            dlg.findChild<QPlainTextEdit*>("remark")->setPlainText("二号机");
        };
        CMessageBoxRecorder boxes;
        AnswerNextDialog<CSiteDlg>(
            [&](CSiteDlg& dlg)
            {
                fill(dlg);
                dlg.findChild<QPushButton*>("ok")->click();
            });
        Run(ID_SITE_ADD);
        QVERIFY(boxes.Requests().isEmpty());

        // The same login again is refused; the dialog comes back with all
        // that was typed, and another port makes it a site of its own.
        AnswerNextDialog<CSiteDlg>(
            [&](CSiteDlg& dlg)
            {
                fill(dlg);
                AnswerNextDialog<CSiteDlg>(
                    [&](CSiteDlg& again)
                    {
                        QCOMPARE(again.findChild<QLineEdit*>("user")->text(),
                                 QStringLiteral("bob"));
                        QCOMPARE(again.findChild<QLineEdit*>("password")->text(),
                                 QStringLiteral("pw"));
                        QCOMPARE(again.findChild<QPlainTextEdit*>("remark")->toPlainText(),
                                 QStringLiteral("二号机"));
                        again.findChild<QLineEdit*>("port")->setText("2121");
                        again.findChild<QPushButton*>("ok")->click();
                    });
                dlg.findChild<QPushButton*>("ok")->click();
            });
        Run(ID_SITE_ADD);
        QCOMPARE(boxes.Requests().size(), 1);
        QCOMPARE(boxes.LastText(), QStringLiteral("站点已有！"));
        QCOMPARE(m_pWindow->TopLabels(),
                 QStringList({"h", "new.example@bob", "new.example:2121@bob"}));
        const CFTPSite& added = *m_pWindow->Doc().m_siteList.back();
        QCOMPARE(added.m_nPort, 2121);
        QCOMPARE(added.m_strPassword, std::string("pw"));
        QCOMPARE(added.m_strRemark, std::string("二号机"));
    }

    void EditRelabelsOnlyTheSiteItem()
    {
        CDirItem* pPubItem = FolderItemPub();
        m_pWindow->Select(pPubItem);
        AnswerNextDialog<CSiteDlg>(
            [](CSiteDlg& dlg)
            {
                QCOMPARE(dlg.findChild<QLineEdit*>("host")->text(), QStringLiteral("h"));
                QVERIFY(dlg.findChild<QCheckBox*>("anonymous")->isChecked());
                dlg.findChild<QLineEdit*>("nickname")->setText("家");
                dlg.findChild<QPushButton*>("ok")->click();
            });
        Run(ID_SITE_EDIT);
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"家"}));
        QCOMPARE(pPubItem->text(0), QStringLiteral("pub"));
        QCOMPARE(m_pSite->m_strNickname, std::string("家"));
        QCOMPARE(m_pSite->m_strHost, std::string("h"));
    }

    void DeleteFromAFolderItemDeletesItsSiteUnlessItIsUpdating()
    {
        m_pWindow->AddSite("other");
        m_pWindow->Tree().FillTree();
        m_pWindow->Select(FolderItemPub());
        QCOMPARE(m_pWindow->Rows(), QStringList({"a"}));

        // Held by the update engine: refused, and no item changes.
        {
            CMessageBoxRecorder boxes(QMessageBox::Ok);
            m_pSite->m_nEngineHold = 1;
            Run(ID_SITE_DELETE);
            m_pSite->m_nEngineHold = 0;
            QCOMPARE(boxes.Requests().size(), 2);
            QCOMPARE(boxes.Requests()[0].strText, QStringLiteral("是否确定要删除?"));
            QCOMPARE(boxes.Requests()[0].strCaption, QStringLiteral("警告"));
            QCOMPARE(boxes.LastText(), SITE_UPDATING);
            QCOMPARE(m_pWindow->TopLabels(), QStringList({"h", "other"}));
            QCOMPARE(m_pWindow->Rows(), QStringList({"a"}));
        }
        {
            CMessageBoxRecorder cancel(QMessageBox::Cancel);
            Run(ID_SITE_DELETE);
            QCOMPARE(m_pWindow->TopLabels(), QStringList({"h", "other"}));
        }
        CMessageBoxRecorder boxes(QMessageBox::Ok);
        Run(ID_SITE_DELETE);
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"other"}));
        QVERIFY(m_pWindow->Doc().FindSite("h") == nullptr);
        QCOMPARE(m_pWindow->Rows(), QStringList());
        QVERIFY(!Frame().Action(ID_GO_BACK)->isEnabled());
    }

    void ImportRebuildsTheTreeCollapsedWithEverySite()
    {
        std::string strPath = m_pWindow->DataFolder() + "/sites";
        std::ofstream(strPath) << "ftp://one.example\nuser:pw@two.example:2121\n";
        FolderItemPub();
        QStringList filters;
        FileDialogHook previous = SetFileDialogHook(
            [&](const FileDialogRequest& request)
            {
                filters = request.filters;
                return QString::fromStdString(strPath);
            });
        Run(ID_SITE_IMPORT);
        SetFileDialogHook(previous);
        QCOMPARE(filters, QStringList({"Text File(*.txt)(*.txt)", "all files(*.*)(*)"}));
        QCOMPARE(m_pWindow->TopLabels(),
                 QStringList({"h", "one.example", "two.example:2121@user"}));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!m_pWindow->TopItem(i)->isExpanded());
    }

    void ImportSaysWhichLinesItSkipped()
    {
        std::string strPath = m_pWindow->DataFolder() + "/sites";
        std::ofstream(strPath) << "# campus servers\n"
                                  "bob@one.example\n"
                                  "two.example:70000\n"
                                  "\n"
                                  "one.example:2121\n"
                                  "h\n";
        FileDialogHook previous = SetFileDialogHook([&](const FileDialogRequest&)
                                                    { return QString::fromStdString(strPath); });
        CMessageBoxRecorder boxes;
        Run(ID_SITE_IMPORT);
        SetFileDialogHook(previous);
        QStringList labels = m_pWindow->TopLabels();
        labels.sort();
        QCOMPARE(labels, QStringList({"h", "one.example:2121", "one.example@bob"}));
        QCOMPARE(boxes.Requests().size(), 1);
        QCOMPARE(boxes.LastText(), QStringLiteral("已导入 2 个站点，跳过 3 行：\n"
                                                  "第 1 行：注释\n"
                                                  "第 3 行：端口号 70000 不在 1-65535 之内\n"
                                                  "第 6 行：站点已有"));
        // "user@host" is a login without a password.
        const CFTPSite& bob = *m_pWindow->Doc().m_siteList[1];
        QCOMPARE(bob.m_strUser, std::string("bob"));
        QCOMPARE(bob.m_strPassword, std::string());
    }

    void WithNothingSelectedTheSelectionCommandsDoNothing()
    {
        m_pSite->m_bHasNew = true;
        m_pWindow->Tree().UpdateSiteItem(m_pSite);
        CMessageBoxRecorder boxes(QMessageBox::Ok);
        for (int nId : {ID_SITE_EDIT, ID_SITE_DELETE, ID_UPDATE_SELECTED, ID_SHOW_FOLDER_UPDATES,
                        ID_MARK_FOLDER_READ, ID_COPY_FOLDER_ADDRESS})
            Run(nId);
        // Only delete asked its question.
        QCOMPARE(boxes.Requests().size(), 1);
        QCOMPARE(boxes.LastText(), QStringLiteral("是否确定要删除?"));
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"h"}));
        QCOMPARE(m_pSite->m_nStatus.load(), 0);
        QVERIFY(m_pSite->m_bHasNew.load());
        QCOMPARE(m_pWindow->Rows().size(), 4); // the welcome lines
    }

    void BackForwardAndUpFollowTheHistory()
    {
        auto enabled = [this]
        {
            return QList<bool>({Frame().Action(ID_GO_BACK)->isEnabled(),
                                Frame().Action(ID_GO_FORWARD)->isEnabled(),
                                Frame().Action(ID_GO_UP)->isEnabled()});
        };
        QCOMPARE(enabled(), QList<bool>({false, false, false}));
        m_pWindow->Select(m_pWindow->TopItem(0));
        QCOMPARE(enabled(), QList<bool>({false, false, false})); // a root has no parent
        m_pWindow->Select(CWindowFixture::Child(m_pWindow->TopItem(0), 0));
        QCOMPARE(enabled(), QList<bool>({true, false, true}));
        Run(ID_GO_BACK);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "readme"}));
        QCOMPARE(enabled(), QList<bool>({false, true, false}));
        Run(ID_GO_FORWARD);
        QCOMPARE(m_pWindow->Rows(), QStringList({"a"}));
        Run(ID_GO_UP);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "readme"}));
        QCOMPARE(enabled(), QList<bool>({true, false, false}));

        // The same from the keyboard: Alt+Left, Alt+Right, Enter on a folder
        // row, Backspace.
        Frame().show();
        QVERIFY(QTest::qWaitForWindowActive(&Frame()));
        CTarnView& list = m_pWindow->List();
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(m_pWindow->Rows(), QStringList({"a"}));
        QTest::keyClick(&list, Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "readme"}));
        list.setCurrentIndex(list.model()->index(0, 0));
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(m_pWindow->Rows(), QStringList({"a"}));
        QTest::keyClick(&list, Qt::Key_Backspace);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "readme"}));
        QTest::keyClick(&list, Qt::Key_F6);
        QVERIFY(m_pWindow->Tree().hasFocus());
    }

    void SwitchingTwiceReturnsToTheSameModeAndListing()
    {
        m_pWindow->Select(m_pWindow->TopItem(0));
        CMessageBoxRecorder boxes;
        Run(ID_SHOW_ALL_UNREAD);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub"}));
        QVERIFY(m_pWindow->List().m_bResultMode);
        Run(ID_TOGGLE_VIEW);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "readme"}));
        Run(ID_TOGGLE_VIEW);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub"}));
        QVERIFY(m_pWindow->List().m_bResultMode);
        QVERIFY(boxes.Requests().isEmpty());
    }

    void MarkingASiteItemReadUnboldsItAtOnce()
    {
        m_pSite->m_bHasNew = true;
        m_pWindow->Tree().UpdateSiteItem(m_pSite);
        QVERIFY(m_pWindow->TopItem(0)->font(0).bold());
        m_pWindow->Select(m_pWindow->TopItem(0));
        Run(ID_MARK_FOLDER_READ);
        QVERIFY(!m_pWindow->TopItem(0)->font(0).bold());
        QCOMPARE(m_pPub->m_nState, 0);
        QCOMPARE(m_pPub->m_fileList[0]->m_nState, 0);
    }

    void NamesAndServerRepliesThatLookLikeMarkupShowAsTyped()
    {
        // What the user reads: a tip that looks like markup is rendered.
        auto shown = [](const QString& strTip)
        {
            if (!Qt::mightBeRichText(strTip))
                return strTip;
            QTextDocument doc;
            doc.setHtml(strTip);
            return doc.toPlainText();
        };
        const QString strName = QStringLiteral("<b>粗</b><img src=\"x\">");
        const QString strReply = QStringLiteral("更新失败:\n<i>550</i> <a href=\"x\">here</a>");
        m_pSite->m_strNickname = strName.toStdString();
        m_pSite->SetStatus(strReply.toStdString(), 1);
        m_pWindow->Tree().FillTree();
        QString strTip = m_pWindow->TopItem(0)->data(0, Qt::ToolTipRole).toString();
        QVERIFY2(shown(strTip).startsWith(strReply), qPrintable(shown(strTip)));
        QCOMPARE(m_pWindow->TopItem(0)->text(0), strName);

        int nLabels = 0;
        AnswerNextDialog<CSiteInfoDlg>(
            [&](CSiteInfoDlg& dlg)
            {
                for (QLabel* pLabel : dlg.findChildren<QLabel*>())
                {
                    if (!pLabel->text().contains('<'))
                        continue;
                    ++nLabels;
                    QCOMPARE(pLabel->textFormat(), Qt::PlainText);
                }
                dlg.reject();
            });
        m_pWindow->Select(m_pWindow->TopItem(0));
        Run(ID_SITE_STATS);
        QCOMPARE(nLabels, 1); // the site's name
        QCOMPARE(Frame().findChild<QLabel*>("statusPane")->textFormat(), Qt::PlainText);
    }

    void HelpSaysSoWhenTheGuideIsMissing()
    {
        CMessageBoxRecorder boxes;
        Run(ID_HELP_PDF);
        QVERIFY(boxes.LastText().contains("help.pdf"));
    }

    void ThreadCountTakesOkAndIgnoresCancel()
    {
        g_nThreadLimit = 5;
        AnswerNextDialog<CUpdateNumSet>(
            [](CUpdateNumSet& dlg)
            {
                dlg.findChild<QLineEdit*>()->setText("500");
                dlg.accept();
            });
        Run(ID_SETTINGS);
        QCOMPARE(g_nThreadLimit.load(), 500u);
        AnswerNextDialog<CUpdateNumSet>(
            [](CUpdateNumSet& dlg)
            {
                dlg.findChild<QLineEdit*>()->setText("1");
                dlg.reject();
            });
        Run(ID_SETTINGS);
        QCOMPARE(g_nThreadLimit.load(), 500u);
        g_nThreadLimit = 5;
    }

    void ARunningWalkRefusesWhatWouldDisturbItAndClosingWaitsForIt()
    {
        for (int i = 0; i < 20000; ++i)
            AddFile(m_pSite->m_pRoot.get(), "f" + std::to_string(i));
        m_pWindow->Select(m_pWindow->TopItem(0));
        CMessageBoxRecorder boxes(QMessageBox::Ok);
        bool bChecked = false;
        QTimer during;
        during.setInterval(1);
        connect(&during, &QTimer::timeout,
                [&]
                {
                    if (!Frame().IsWalking() || bChecked)
                        return;
                    bChecked = true;
                    QVERIFY(!Frame().Action(ID_TOGGLE_VIEW)->isEnabled());
                    QVERIFY(!Frame().Action(ID_SITE_DELETE)->isEnabled());
                    Run(ID_SITE_DELETE);
                    Run(ID_TOGGLE_VIEW);
                    Frame().close();
                    QVERIFY(!Frame().IsClosed());
                });
        during.start();
        AnswerNextDialog<CFindDialog>([](CFindDialog& dlg) { dlg.accept(); });
        Run(ID_SEARCH);
        QVERIFY(bChecked);
        QVERIFY(boxes.Requests().isEmpty()); // delete never asked
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"h"}));
        QVERIFY(m_pWindow->List().m_bResultMode);
        QTRY_VERIFY(Frame().IsClosed());
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
