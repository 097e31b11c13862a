#pragma once
// "站点选项": the options of one site that site.ds has no field for, opened
// from the site dialog's "高级..." button. One section per subject (the
// character set of the server's names, the way folders are listed, TLS, the
// servers' times), each
// reading and writing its own keys of CSiteChoices, so a new subject is a
// new section and a few new members.
//
// The caller fills m_choices, runs exec(), and on QDialog::Accepted reads
// them back; the dialog shows the members whenever it is shown and copies
// the fields back on OK. It never touches a site or its options file: a
// certificate trusted with "信任此证书" is pinned only when the caller
// writes the choices. GUI thread only (the certificate is read on a thread
// of the dialog's own, which it stops before it closes).

#include <QDialog>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "model/SiteSettings.h"

class CInternetSession;
struct CTlsCertificate;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

// The dialog's choices, as the site's settings hold them.
struct CSiteChoices
{
    std::string m_strCharset = CHARSET_AUTO;
    std::string m_strFallback = DEFAULT_CHARSET_FALLBACK; // how auto reads names that are not UTF-8
    ListingMode m_nListing = ListingMode::automatic;
    // What auto found the last time it compared the two ways (none before
    // it first did): shown, never written.
    std::optional<ListingMode> m_listingFound;
    TlsMode m_nTls = TlsMode::off;
    bool m_bTrustFirstUse = false;
    std::string m_strPin; // the one server key accepted; "" none
    int64_t m_nTimeOffset = 0; // minutes taken off LIST times
    bool m_bLogModified = false;
    bool m_bNoAutoUpdate = false; // "不自动更新": scheduled updates leave it out

    // What the settings say; a value this program does not know reads as
    // its settings declare (and its line stays untouched unless the user
    // changes it).
    static CSiteChoices FromSettings(const CSiteSettings& settings);
    // Writes into *pSettings each choice that differs from before; a choice
    // back at its default loses its line. Every other line stays as it is,
    // so a note the update engine wrote meanwhile survives.
    void WriteChanges(const CSiteChoices& before, CSiteSettings* pSettings) const;

    bool operator==(const CSiteChoices&) const = default;
};

class CSiteOptionsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSiteOptionsDlg(QWidget* pParent = nullptr);
    ~CSiteOptionsDlg() override;

    CSiteChoices m_choices;
    // The server "信任此证书" asks, as the site dialog has it now.
    std::string m_strHost;
    int32_t m_nPort = 21;

    void accept() override;
    void done(int nResult) override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QWidget* MakeCharsetSection();
    QWidget* MakeListingSection();
    QWidget* MakeTlsSection();
    QWidget* MakeTimesSection();
    void EnableFallback();
    void EnableTls();
    void ShowPin(const std::string& strPin);
    void OnTrustCertificate();
    void OnCertificateFetched(unsigned nFetch, bool bOk, const CTlsCertificate& cert,
                              const std::string& strError);
    // Cuts a certificate read short; its result, if any comes, is dropped.
    void StopFetch();

    QComboBox* m_pComboCharset = nullptr;
    QComboBox* m_pComboFallback = nullptr;
    QButtonGroup* m_pListingGroup = nullptr;
    QLabel* m_pLabelFound = nullptr;
    QButtonGroup* m_pTlsGroup = nullptr;
    QCheckBox* m_pCheckTrustFirstUse = nullptr;
    QLabel* m_pLabelPin = nullptr;
    QPushButton* m_pButtonForget = nullptr;
    QPushButton* m_pButtonTrust = nullptr;
    QLabel* m_pLabelFetch = nullptr;
    QSpinBox* m_pSpinTimeOffset = nullptr;
    QCheckBox* m_pCheckLogModified = nullptr;
    QCheckBox* m_pCheckNoAutoUpdate = nullptr;
    // The pin as the section shows it, until OK.
    std::string m_strShownPin;

    // Where a certificate read hands its result: the dialog while it waits
    // for it, nobody once the read was cut short. The read's thread is never
    // waited for (name resolution and a connect ignore the cut), so closing
    // the dialog never blocks; a read that ends late finds nobody there.
    struct CFetchMailbox
    {
        std::mutex lock;
        CSiteOptionsDlg* pDlg = nullptr;
    };
    std::shared_ptr<CFetchMailbox> m_pMailbox;
    std::shared_ptr<CInternetSession> m_pFetchSession;
    bool m_bFetching = false;
    // Which read a result answers: one cut short or from before is ignored.
    unsigned m_nFetch = 0;
};
