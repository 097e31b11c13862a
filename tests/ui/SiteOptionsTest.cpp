// The site's options through the window: "高级..." in the site dialog,
// what reaches options.ini, names shown again in a new character set, the
// URL a copy confirmation shows, and a server's certificate trusted.

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>
#include <arpa/inet.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "support/TempDir.h"
#include "support/Vsftpd.h"
#include "ui/DisplayText.h"
#include "ui/SiteDlg.h"
#include "ui/SiteOptionsDlg.h"

namespace
{
// What the options dialog is made to do once it is open.
struct COptionsAnswer
{
    QString strCharset;               // item data to pick; empty: leave it
    const char* pszListing = nullptr; // radio button to click
    bool bOk = true;
};

// Opens "高级..." in the site dialog, answers the options dialog, then
// presses OK or Cancel in the site dialog. *pSeen gets what the options
// dialog showed on opening: charset value, listing button, found hint.
void AnswerSiteAndOptions(const COptionsAnswer& answer, bool bSiteOk, QStringList* pSeen = nullptr,
                          const QString& strHost = {})
{
    AnswerNextDialog<CSiteDlg>(
        [=](CSiteDlg& dlg)
        {
            if (!strHost.isEmpty())
            {
                dlg.findChild<QLineEdit*>("host")->setText(strHost);
                if (!dlg.findChild<QCheckBox*>("anonymous")->isChecked())
                    dlg.findChild<QCheckBox*>("anonymous")->click();
            }
            AnswerNextDialog<CSiteOptionsDlg>(
                [=](CSiteOptionsDlg& options)
                {
                    auto* pCharset = options.findChild<QComboBox*>("charset");
                    if (pSeen != nullptr)
                    {
                        *pSeen << pCharset->currentData().toString();
                        for (auto* pButton : options.findChildren<QRadioButton*>())
                            if (pButton->isChecked() && pButton->objectName().startsWith("listing"))
                                *pSeen << pButton->objectName();
                        *pSeen << options.findChild<QLabel*>("listingFound")->text();
                    }
                    if (!answer.strCharset.isEmpty())
                        pCharset->setCurrentIndex(pCharset->findData(answer.strCharset));
                    if (answer.pszListing != nullptr)
                        options.findChild<QRadioButton*>(answer.pszListing)->click();
                    options.findChild<QPushButton*>(answer.bOk ? "ok" : "cancel")->click();
                });
            dlg.findChild<QPushButton*>("advanced")->click();
            dlg.findChild<QPushButton*>(bSiteOk ? "ok" : "cancel")->click();
        });
}

// Opens "高级..." in the site dialog, lets fn work the options dialog, then
// presses OK in both.
void AnswerOptions(std::function<void(CSiteOptionsDlg&)> fn)
{
    AnswerNextDialog<CSiteDlg>(
        [fn](CSiteDlg& dlg)
        {
            AnswerNextDialog<CSiteOptionsDlg>(
                [fn](CSiteOptionsDlg& options)
                {
                    fn(options);
                    options.findChild<QPushButton*>("ok")->click();
                });
            dlg.findChild<QPushButton*>("advanced")->click();
            dlg.findChild<QPushButton*>("ok")->click();
        });
}

std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* const GBK_NAME = "\xd6\xd0\xce\xc4";            // 中文
const char* const CP1251_NAME = "\xcf\xf0\xe8\xe2\xe5\xf2"; // Привет
} // namespace

class SiteOptionsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    CFTPSite* m_pSite = nullptr;

    void Run(int nId) const { m_pWindow->Frame().Action(nId)->trigger(); }
    std::string OptionsPath(const CFTPSite& site) const
    {
        return GetSiteFolderPath(m_pWindow->DataFolder(), site.GetKey()) + "/" + SITE_OPTIONS_FILE;
    }

private slots:
    void init()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pSite = m_pWindow->AddSite("h");
        m_pWindow->Tree().FillTree();
    }

    void cleanup() { m_pWindow.reset(); }

    void DialogWritesOnlyWhatTheUserChangedAndCancelWritesNothing()
    {
        // What the engine noted and a line of a newer program must survive.
        m_pSite->UpdateSettings(
            [](CSiteSettings& s)
            { s = CSiteSettings(CSiteOptions::Parse("listing_found=stat\nfuture=1\n")); });
        const std::string strPath = OptionsPath(*m_pSite);
        m_pWindow->Select(m_pWindow->TopItem(0));
        CMessageBoxRecorder boxes;

        // A site being updated takes new options too (they list from its
        // next update on).
        QStringList seen;
        m_pSite->m_nEngineHold = 1;
        AnswerSiteAndOptions({"GB18030", "listingList"}, true, &seen);
        Run(ID_SITE_EDIT);
        m_pSite->m_nEngineHold = 0;
        QCOMPARE(seen.mid(0, 2), QStringList({"auto", "listingAuto"}));
        QVERIFY(seen[2].contains("STAT（控制连接）"));
        QCOMPARE(ReadFile(strPath),
                 std::string("listing_found=stat\nfuture=1\ncharset=GB18030\nlisting=list\n"));

        // Cancel in either dialog, or OK without a change: the file stays.
        const std::string strBefore = ReadFile(strPath);
        seen.clear();
        AnswerSiteAndOptions({"Windows-1251", "listingStat"}, false, &seen);
        Run(ID_SITE_EDIT);
        QCOMPARE(seen.mid(0, 2), QStringList({"GB18030", "listingList"}));
        AnswerSiteAndOptions({"Windows-1251", "listingStat", false}, true);
        Run(ID_SITE_EDIT);
        // A folder where the file goes: any write would fail loudly.
        std::filesystem::remove(strPath);
        std::filesystem::create_directory(strPath);
        AnswerSiteAndOptions({}, true);
        Run(ID_SITE_EDIT);
        QVERIFY(boxes.Requests().isEmpty());

        // A failed write says so and leaves the options as they were.
        AnswerSiteAndOptions({"auto", nullptr}, true);
        Run(ID_SITE_EDIT);
        QCOMPARE(boxes.Requests().size(), 1);
        QVERIFY(boxes.LastText().startsWith("站点选项未能保存"));
        QCOMPARE(m_pSite->GetSettings().GetOptions().Format(), strBefore);
        std::filesystem::remove(strPath);

        // A new site gets its choices once it exists.
        AnswerSiteAndOptions({"Big5", "listingStat"}, true, nullptr, "new.example");
        Run(ID_SITE_ADD);
        CFTPSite* pNew = m_pWindow->Doc().FindSite("new.example");
        QVERIFY(pNew != nullptr);
        QCOMPARE(ReadFile(OptionsPath(*pNew)), std::string("charset=Big5\nlisting=stat\n"));
    }

    void TimeChoicesShowWhatIsSetAndWriteOnlyWhatChanged()
    {
        m_pSite->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::TIME_OFFSET, 480); });
        m_pWindow->Select(m_pWindow->TopItem(0));
        int nShown = 0;
        bool bShownLog = true;
        AnswerOptions(
            [&](CSiteOptionsDlg& options)
            {
                auto* pOffset = options.findChild<QSpinBox*>("timeOffset");
                auto* pLog = options.findChild<QCheckBox*>("logModified");
                nShown = pOffset->value();
                bShownLog = pLog->isChecked();
                pOffset->setValue(-300);
                pLog->click();
            });
        Run(ID_SITE_EDIT);
        QCOMPARE(nShown, 480);
        QVERIFY(!bShownLog);
        QCOMPARE(ReadFile(OptionsPath(*m_pSite)), std::string("time_offset=-300\nlog_modified=yes\n"));
        // Back at the defaults: the lines go.
        AnswerOptions(
            [&](CSiteOptionsDlg& options)
            {
                options.findChild<QSpinBox*>("timeOffset")->setValue(0);
                options.findChild<QCheckBox*>("logModified")->click();
            });
        Run(ID_SITE_EDIT);
        QCOMPARE(ReadFile(OptionsPath(*m_pSite)), std::string());
    }

    void TlsChoicesReachTheOptionsFileAndTheToolTip()
    {
        const std::string strPath = OptionsPath(*m_pSite);
        m_pWindow->Select(m_pWindow->TopItem(0));
        AnswerOptions(
            [](CSiteOptionsDlg& dlg)
            {
                // A plain site offers no trust until it chooses TLS.
                QVERIFY(!dlg.findChild<QPushButton*>("trustCertificate")->isEnabled());
                dlg.findChild<QRadioButton*>("tlsImplicit")->click();
                dlg.findChild<QCheckBox*>("trustFirstUse")->click();
            });
        Run(ID_SITE_EDIT);
        QCOMPARE(ReadFile(strPath), std::string("tls=implicit\ntls_trust=first-use\n"));
        QCOMPARE(m_pWindow->TopItem(0)->toolTip(0),
                 QStringLiteral("未更新\n加密：隐式 TLS，首次连接时信任服务器证书"));

        // The key a first connection pinned shows, and forgetting it drops
        // its line; back to plain FTP drops the mode's.
        const std::string strPin = "sha256//" + std::string(43, 'A') + "=";
        m_pSite->UpdateSettings([&](CSiteSettings& s) { s.Set(CSiteSettings::TLS_PIN, strPin); });
        QVERIFY(m_pWindow->TopItem(0)->toolTip(0).endsWith("只接受已信任的证书"));
        // With a key pinned, "try" no longer falls back to plain FTP, and says so.
        m_pSite->UpdateSettings([](CSiteSettings& s)
                                { s.Set(CSiteSettings::TLS, TlsMode::tryTls); });
        QCOMPARE(m_pWindow->TopItem(0)->toolTip(0),
                 QStringLiteral(
                     "未更新\n加密：尽量 TLS（已有信任的证书，必须加密），只接受已信任的证书"));
        // A refused key's text runs long, and shows whole.
        const std::string strFailed =
            "更新失败:\n" + std::string(1000, 'x') + "\n已信任：" + strPin;
        m_pSite->SetStatus(strFailed, 1);
        QVERIFY(m_pWindow->TopItem(0)->toolTip(0).startsWith(QString::fromStdString(strFailed)));
        m_pSite->SetStatus("未更新", 0);
        QString strShown;
        AnswerOptions(
            [&strShown](CSiteOptionsDlg& dlg)
            {
                strShown = dlg.findChild<QLabel*>("tlsPin")->text();
                dlg.findChild<QPushButton*>("forgetPin")->click();
                dlg.findChild<QRadioButton*>("tlsOff")->click();
            });
        Run(ID_SITE_EDIT);
        QCOMPARE(strShown, QString::fromStdString(strPin));
        QCOMPARE(ReadFile(strPath), std::string("tls_trust=first-use\n"));
        QCOMPARE(m_pWindow->TopItem(0)->toolTip(0), QStringLiteral("未更新"));
    }

    void NoAutoUpdateReachesTheOptionsFileAndBack()
    {
        const std::string strPath = OptionsPath(*m_pSite);
        m_pWindow->Select(m_pWindow->TopItem(0));
        bool bShown = true;
        AnswerOptions(
            [&bShown](CSiteOptionsDlg& dlg)
            {
                auto* pCheck = dlg.findChild<QCheckBox*>("noAutoUpdate");
                bShown = pCheck->isChecked();
                pCheck->click();
            });
        Run(ID_SITE_EDIT);
        QVERIFY(!bShown);
        QCOMPARE(ReadFile(strPath), std::string("auto_update=no\n"));
        QVERIFY(!m_pSite->GetSettings().Get(CSiteSettings::AUTO_UPDATE));
        AnswerOptions(
            [&bShown](CSiteOptionsDlg& dlg)
            {
                auto* pCheck = dlg.findChild<QCheckBox*>("noAutoUpdate");
                bShown = pCheck->isChecked();
                pCheck->click();
            });
        Run(ID_SITE_EDIT);
        QVERIFY(bShown);
        QCOMPARE(ReadFile(strPath), std::string());
    }

    void TrustCertificatePinsTheServersKeyWithoutLoggingIn()
    {
        if (!CTestVsftpd::IsAvailable())
            QSKIP("vsftpd cannot run here");
        CTempDir certs;
        CTempDir served;
        CTestCert cert;
        QVERIFY(MakeSelfSignedCert(certs.Path(), "127.0.0.1", &cert));
        CTestVsftpd server(served.Path(),
                           {CTestVsftpd::Tls::explicitTls, cert.strCertFile, cert.strKeyFile});
        QVERIFY(server.GetPort() != 0);
        CFTPSite* pSite = m_pWindow->AddSite("127.0.0.1");
        pSite->m_nPort = server.GetPort();
        m_pWindow->Tree().FillTree();
        m_pWindow->Select(m_pWindow->TopItem(0));

        CMessageBoxRecorder boxes(QMessageBox::Yes);
        QString strPinShown;
        AnswerOptions(
            [&](CSiteOptionsDlg& dlg)
            {
                auto* pTrust = dlg.findChild<QPushButton*>("trustCertificate");
                // Implicit TLS against this server fails, and says so.
                dlg.findChild<QRadioButton*>("tlsImplicit")->click();
                pTrust->click();
                QVERIFY(!pTrust->isEnabled());
                QVERIFY(!dlg.findChild<QLabel*>("fetchState")->text().isEmpty());
                QVERIFY(QTest::qWaitFor([&] { return boxes.Requests().size() == 1; }, 20000));
                QCOMPARE(boxes.Requests()[0].icon, QMessageBox::Warning);

                dlg.findChild<QRadioButton*>("tlsExplicit")->click();
                pTrust->click();
                QVERIFY(QTest::qWaitFor([&] { return boxes.Requests().size() == 2; }, 20000));
                strPinShown = dlg.findChild<QLabel*>("tlsPin")->text();
            });
        Run(ID_SITE_EDIT);
        QVERIFY2(boxes.LastText().contains(QString::fromStdString(cert.strPin)),
                 qPrintable(boxes.LastText()));
        QCOMPARE(strPinShown, QString::fromStdString(cert.strPin));
        QCOMPARE(ReadFile(OptionsPath(*pSite)), "tls=explicit\ntls_pin=" + cert.strPin + "\n");
        QCOMPARE(server.ReadLog().find("\"USER"), std::string::npos);
    }

    void CancelWhileACertificateIsReadReturnsAtOnceAndDropsTheResult()
    {
        // A server whose queue is full: connecting hangs (its SYNs are
        // dropped) until the connect time-out, which no cut shortens.
        int nListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof(address);
        QCOMPARE(::bind(nListener, reinterpret_cast<sockaddr*>(&address), nLength), 0);
        QCOMPARE(::listen(nListener, 0), 0);
        QCOMPARE(::getsockname(nListener, reinterpret_cast<sockaddr*>(&address), &nLength), 0);
        std::vector<int> fillers;
        for (int i = 0; i < 4; ++i)
        {
            int nFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            (void)::connect(nFiller, reinterpret_cast<sockaddr*>(&address), nLength);
            fillers.push_back(nFiller);
        }
        QTest::qWait(100);
        CFTPSite* pSite = m_pWindow->AddSite("127.0.0.1");
        pSite->m_nPort = ntohs(address.sin_port);
        m_pWindow->Tree().FillTree();
        m_pWindow->Select(m_pWindow->TopItem(0));

        CMessageBoxRecorder boxes;
        qint64 nCancelMs = -1;
        AnswerNextDialog<CSiteDlg>(
            [&](CSiteDlg& dlg)
            {
                AnswerNextDialog<CSiteOptionsDlg>(
                    [&](CSiteOptionsDlg& options)
                    {
                        options.findChild<QRadioButton*>("tlsExplicit")->click();
                        options.findChild<QPushButton*>("trustCertificate")->click();
                        QTest::qWait(300); // well into the connect
                        QElapsedTimer clock;
                        clock.start();
                        options.findChild<QPushButton*>("cancel")->click();
                        nCancelMs = clock.elapsed();
                    });
                dlg.findChild<QPushButton*>("advanced")->click();
                dlg.findChild<QPushButton*>("cancel")->click();
            });
        Run(ID_SITE_EDIT);
        QVERIFY2(nCancelMs >= 0 && nCancelMs < 100, qPrintable(QString::number(nCancelMs)));
        // The read ends once the server goes; its result finds nobody.
        for (int nFiller : fillers)
            ::close(nFiller);
        ::close(nListener);
        QTest::qWait(500);
        QVERIFY(boxes.Requests().isEmpty());
    }

    void NewCharsetRelabelsTreeAndListAtOnce_data()
    {
        QTest::addColumn<QString>("strFrom");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("strTo");
        QTest::addColumn<QString>("strShown");
        QTest::addColumn<QString>("strEncoded");
        QTest::newRow("GBK") << "UTF-8" << QByteArray(GBK_NAME) << "GB18030"
                             << QStringLiteral("中文") << "%D6%D0%CE%C4";
        QTest::newRow("1251") << "auto" << QByteArray(CP1251_NAME) << "Windows-1251"
                              << QStringLiteral("Привет") << "%CF%F0%E8%E2%E5%F2";
    }

    void NewCharsetRelabelsTreeAndListAtOnce()
    {
        QFETCH(QString, strFrom);
        QFETCH(QByteArray, name);
        QFETCH(QString, strTo);
        QFETCH(QString, strShown);
        QFETCH(QString, strEncoded);
        m_pSite->UpdateSettings([&](CSiteSettings& s)
                                { s.Set(CSiteSettings::CHARSET, strFrom.toStdString()); });
        CFTPDir* pDir = AddDir(m_pSite->m_pRoot.get(), name.toStdString());
        AddFile(pDir, name.toStdString() + ".txt");
        AddFile(m_pSite->m_pRoot.get(), name.toStdString());
        m_pWindow->Tree().FillTree();
        CDirItem* pSiteItem = m_pWindow->TopItem(0);
        pSiteItem->setExpanded(true);
        m_pWindow->Select(pSiteItem);
        // Selecting a site builds its items again: take the folder's now.
        CDirItem* pFolderItem = CWindowFixture::Child(pSiteItem, 0);
        pFolderItem->setExpanded(true);
        QVERIFY(pFolderItem->text(0) != strShown);

        CMessageBoxRecorder boxes;
        AnswerSiteAndOptions({strTo, nullptr}, true);
        Run(ID_SITE_EDIT);
        QCOMPARE(pFolderItem->text(0), strShown);
        QCOMPARE(m_pWindow->Rows(), QStringList({strShown, strShown}));
        QCOMPARE(m_pWindow->Rows(CFileListModel::COLUMN_ADDRESS),
                 QStringList({"ftp://h/" + strShown, "ftp://h/" + strShown}));

        // The copied URL carries the server's bytes; the box also says what
        // they read as.
        m_pWindow->Select(pFolderItem);
        QCOMPARE(m_pWindow->Rows(), QStringList({strShown + ".txt"}));
        Run(ID_COPY_FOLDER_ADDRESS);
        QVERIFY2(boxes.LastText().contains(strEncoded), qPrintable(boxes.LastText()));
        QVERIFY2(boxes.LastText().contains(strShown), qPrintable(boxes.LastText()));
    }

    // The program a copied URL is pasted into knows nothing of the site's
    // TLS: the password stays out, and the box says why.
    void CopiedUrlOfATlsSiteLeavesOutThePasswordAndSaysWhy_data()
    {
        QTest::addColumn<QString>("strTls");
        QTest::addColumn<int>("nCommand");
        QTest::addColumn<QString>("strUrl");
        QTest::addColumn<bool>("bNote");
        QTest::newRow("implicit, folder")
            << "implicit" << int(ID_COPY_FOLDER_ADDRESS) << "ftps://u@s:990/" << true;
        QTest::newRow("explicit, file")
            << "explicit" << int(ID_COPY_FILE_ADDRESS) << "ftp://u@s:21/f.txt" << true;
        QTest::newRow("plain, file")
            << "off" << int(ID_COPY_FILE_ADDRESS) << "ftp://u:secret@s:21/f.txt" << false;
    }

    void CopiedUrlOfATlsSiteLeavesOutThePasswordAndSaysWhy()
    {
        QFETCH(QString, strTls);
        QFETCH(int, nCommand);
        QFETCH(QString, strUrl);
        QFETCH(bool, bNote);
        CSiteInfo info;
        info.m_strHost = "s";
        info.m_strUser = "u";
        info.m_strPassword = "secret";
        QVERIFY(m_pWindow->Doc().AddSite(info));
        CFTPSite* pSite = m_pWindow->Doc().m_siteList.back().get();
        pSite->UpdateSettings(
            [&](CSiteSettings& s)
            {
                CSiteOptions lines = s.GetOptions();
                (void)lines.Set(CSiteSettings::TLS.GetKey(), strTls.toStdString());
                s = CSiteSettings(lines);
            });
        AddFile(pSite->m_pRoot.get(), "f.txt");
        m_pWindow->Tree().FillTree();
        m_pWindow->Select(m_pWindow->TopItem(1));
        QCOMPARE(m_pWindow->Rows(), QStringList({"f.txt"}));
        m_pWindow->List().selectRow(0);

        CMessageBoxRecorder boxes;
        Run(nCommand);
        QCOMPARE(QGuiApplication::clipboard()->text(), strUrl);
        QCOMPARE(boxes.Requests().size(), 1);
        const QString strNote = QStringLiteral("此站点使用 TLS 加密，复制的地址中没有密码");
        QVERIFY2(boxes.LastText().contains(strNote) == bNote, qPrintable(boxes.LastText()));
        QVERIFY2(!boxes.LastText().contains("secret"), qPrintable(boxes.LastText()));
    }

    void ShownUrlHidesThePasswordAndReadsEncodedPaths_data()
    {
        QTest::addColumn<QString>("strUrl");
        QTest::addColumn<QString>("strShown");
        QTest::newRow("plain") << "ftp://h:21/pub/"
                               << "ftp://h:21/pub/";
        QTest::newRow("password") << "ftp://u:p%40ss@h:21/a"
                                  << "ftp://u:******@h:21/a";
        // "@" and ":" past the host are path bytes, not a login.
        QTest::newRow("at in path") << "ftp://h:21/a:b@c"
                                    << "ftp://h:21/a:b@c";
        QTest::newRow("encoded") << "ftp://u:p@h:21/%D6%D0"
                                 << QStringLiteral("ftp://u:******@h:21/%D6%D0\n（即 中）");
    }

    void ShownUrlHidesThePasswordAndReadsEncodedPaths()
    {
        QFETCH(QString, strUrl);
        QFETCH(QString, strShown);
        QCOMPARE(DisplayUrl(strUrl.toStdString(), QStringLiteral("中")), strShown);
    }
};

QTEST_MAIN(SiteOptionsTest)
#include "SiteOptionsTest.moc"
