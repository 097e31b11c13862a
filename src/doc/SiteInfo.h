#pragma once
// A site's figures as the "站点信息" dialog, the site tree's tool tip and
// tarn-cli stats show them (model/SiteStats.h).
//
// Thread: the GUI thread (tarn-cli's main thread).

#include "model/SiteStats.h"

class CFTPSite;
class CTarnDoc;

// What the site's last update stored. The counts come from the tree itself
// when it is in memory (then they are current: marks cleared since count);
// when none are stored either, bLoad loads the tree (the wait cursor shows)
// and counts it, otherwise stats.totals stays empty. Counting walks the
// whole tree under its shared lock.
CSiteStats GetSiteStats(CTarnDoc& doc, CFTPSite& site, bool bLoad = true);
