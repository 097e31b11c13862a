#pragma once
// Text from the catalogue on its way to the screen. Names are bytes as the
// server sent them and stay so in the cache; every name, path and address the
// window shows goes through DisplayName, the one place that picks how a
// site's names are read. Texts of the site list (host, user, nickname,
// status) go through DisplayText. GUI thread only.

#include <QString>
#include <string_view>

class CFTPSite;

// A name, path or node address of pSite's tree (pSite may be null).
QString DisplayName(std::string_view bytes, const CFTPSite* pSite);
// A text of the site list or a status text.
QString DisplayText(std::string_view bytes);
// A tool tip that shows exactly its text: Qt reads a tip that looks like
// markup as rich text, and a server's reply or a name may look like it.
QString PlainToolTip(const QString& strText);
// A site's label: its nickname when set, else its key.
QString SiteLabel(const CFTPSite& site);
// "已列出 1,234 个文件夹" while the site's update runs and has listed a
// folder; "" otherwise.
QString ListedFoldersText(const CFTPSite& site);
// An FTP URL as the window shows it: its password hidden and, when it
// carries percent-encoded bytes (a name the server sent in its own
// character set), strAddressText as the text those bytes stand for, on the
// next line.
QString DisplayUrl(std::string_view strUrl, const QString& strAddressText);
// What the copy confirmation shows below its first line: the URL as
// DisplayUrl shows it and, when pSite's URLs leave out its password, why.
QString CopiedUrlText(std::string_view strUrl, const QString& strAddressText,
                      const CFTPSite* pSite);
