#pragma once
// Times as the change log, the statistics and tarn-cli write and read them:
// ISO 8601, written in UTC ("2024-05-01T12:34:56Z"), so files compare as text
// and mean the same wherever they are read.
//
// Threads: plain functions, any thread.

#include <chrono>
#include <string>
#include <string_view>

using CWallTime = std::chrono::system_clock::time_point;

// "2024-05-01T12:34:56Z"; with bMillis "2024-05-01T12:34:56.789Z".
std::string FormatIsoTime(CWallTime time, bool bMillis = false);

// A time as people and tools give it: a date "2024-05-01" (its midnight), a
// date and time "2024-05-01T12:34", "...T12:34:56" or "...T12:34:56.789"
// ("T" or a space between), in local time unless "Z" or an offset ("+08:00",
// "+0800", "+08", "-05:00") follows; or whole seconds since 1970-01-01 UTC
// ("1714567890"). False for anything else.
[[nodiscard]] bool ParseIsoTime(std::string_view str, CWallTime* pTime);
