#pragma once
// A site's figures as the window words them: the site tree's tool tip and the
// "站点信息" dialog. GUI thread only.

#include <QString>
#include <cstdint>
#include <string>

struct CSiteStats;

// "1.50M（1,572,864 字节）"; below 1024 bytes just the bytes.
QString BytesText(uint64_t nBytes);
// An ISO 8601 time of the statistics in local time, "" when there is none
// (an unreadable one is shown as it is).
QString LocalTimeText(const std::string& strIso);
// "2分5秒", "0.4秒", "1小时0分3秒".
QString DurationText(int64_t nMs);
// The tool tip's lines below the status text: the tree's counts and the
// last update's end; "" when nothing was ever counted or updated.
QString StatsTipText(const CSiteStats& stats);
