#pragma once
// "站点选项": the options of one site that site.ds has no field for, opened
// from the site dialog's "高级..." button. One section per subject (the
// character set of the server's names, the way folders are listed), each
// reading and writing its own keys of CSiteChoices, so a new subject is a
// new section and a few new members.
//
// The caller fills m_choices, runs exec(), and on QDialog::Accepted reads
// them back; the dialog shows the members whenever it is shown and copies
// the fields back on OK. It never touches a site or its options file.
// GUI thread only.

#include <QDialog>
#include <string>

class CSiteOptions;
class QButtonGroup;
class QComboBox;
class QLabel;

// The dialog's choices as option values; "auto" leaves the choice to the
// program.
struct CSiteChoices
{
    std::string m_strCharset;
    std::string m_strFallback; // how auto reads names that are not UTF-8
    std::string m_strListing;
    // What auto found the last time it compared the two ways ("" before
    // it first did): shown, never written.
    std::string m_strListingFound;

    CSiteChoices();
    // What the options say; a value this program does not know reads as
    // its default (and its line stays untouched unless the user changes it).
    static CSiteChoices FromOptions(const CSiteOptions& options);
    // Writes into *pOptions each choice that differs from before; a choice
    // back at its default loses its line. Every other line stays as it is,
    // so a note the update engine wrote meanwhile survives.
    void WriteChanges(const CSiteChoices& before, CSiteOptions* pOptions) const;

    bool operator==(const CSiteChoices&) const = default;
};

class CSiteOptionsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSiteOptionsDlg(QWidget* pParent = nullptr);

    CSiteChoices m_choices;

    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QWidget* MakeCharsetSection();
    QWidget* MakeListingSection();
    void EnableFallback();

    QComboBox* m_pComboCharset = nullptr;
    QComboBox* m_pComboFallback = nullptr;
    QButtonGroup* m_pListingGroup = nullptr;
    QLabel* m_pLabelFound = nullptr;
};
