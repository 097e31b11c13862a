#include "ui/DisplayText.h"

#include "model/FTPSite.h"
#include "model/NameCodec.h"

QString DisplayName(std::string_view bytes, const CFTPSite* pSite)
{
    if (pSite == nullptr || IsAscii(bytes))
        return DisplayText(bytes);
    // The site's own character set when it names one, else the automatic way.
    std::string strText = pSite->GetCodec().Decode(bytes);
    return QString::fromUtf8(strText.data(), qsizetype(strText.size()));
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
