#include "ui/DisplayText.h"

#include "model/FTPSite.h"
#include "model/NameCodec.h"

QString DisplayName(std::string_view bytes, const CFTPSite* pSite)
{
    // Every site reads its names the automatic way until sites get a
    // character set of their own.
    (void)pSite;
    return DisplayText(bytes);
}

QString DisplayText(std::string_view bytes)
{
    if (IsAscii(bytes))
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    std::string strText = DecodeAuto(bytes);
    return QString::fromUtf8(strText.data(), qsizetype(strText.size()));
}

QString SiteLabel(const CFTPSite& site)
{
    return DisplayText(site.GetDisplayName());
}
