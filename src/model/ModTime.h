#pragma once
// The modification time a listing gave for an entry, kept in 8 bytes: the
// seconds since 1970, how much of the time the line gave (day, minute or
// second), and whether the server's time zone was known. A time whose zone
// is not known is the server's wall clock read as if it were UTC: it is
// shown as it was listed, never moved into the local zone.
//
// Threads: a plain value, any thread.

#include <atomic>
#include <cstdint>
#include <string>

enum class TimePrecision : uint8_t
{
    none, // the listing had no readable date
    day,
    minute,
    second,
};

class CModTime
{
public:
    CModTime() = default;
    CModTime(int64_t nSeconds, TimePrecision nPrecision, bool bZoneKnown)
    {
        if (nPrecision == TimePrecision::none || nSeconds < MIN_SECONDS || nSeconds > MAX_SECONDS)
            return;
        m_nPacked = nSeconds * 8 + (bZoneKnown ? 4 : 0) + static_cast<int64_t>(nPrecision);
    }
    static CModTime FromPacked(int64_t nPacked)
    {
        CModTime time;
        if ((nPacked & 3) != 0)
            time.m_nPacked = nPacked;
        return time;
    }

    bool IsKnown() const { return (m_nPacked & 3) != 0; }
    // Floor division: the low bits are flags, whatever the sign.
    int64_t Seconds() const { return m_nPacked >> 3; }
    TimePrecision Precision() const { return static_cast<TimePrecision>(m_nPacked & 3); }
    bool IsZoneKnown() const { return (m_nPacked & 4) != 0; }
    int64_t Packed() const { return m_nPacked; }

    // The same instant for an older or newer time, as far as sorting and
    // the change log care: both unknown, or the same seconds, zone and
    // precision.
    bool operator==(const CModTime&) const = default;

    // Years 1..9999, which every formatter here can write.
    static constexpr int64_t MIN_SECONDS = -62135596800;
    static constexpr int64_t MAX_SECONDS = 253402300799;

private:
    int64_t m_nPacked = 0; // 0: no time
};

// An entry's time: the update worker sets it under the tree lock, the
// window reads it without (like a row's size, it may move under a painted
// row), so its one word is atomic. Reads and writes as a CModTime.
class CEntryTime
{
public:
    CEntryTime() = default;
    CEntryTime(const CEntryTime&) = delete;
    CEntryTime& operator=(const CEntryTime&) = delete;
    CEntryTime& operator=(CModTime t)
    {
        m_nPacked.store(t.Packed(), std::memory_order_relaxed);
        return *this;
    }
    operator CModTime() const { return Get(); }
    CModTime Get() const { return CModTime::FromPacked(m_nPacked.load(std::memory_order_relaxed)); }

private:
    std::atomic<int64_t> m_nPacked{0};
};

// Orders known times by their seconds (a zone-known time against one whose
// zone is not known: as the local wall clock shows it), unknown ones last:
// -1, 0 or 1.
int CompareModTimes(CModTime a, CModTime b);

// The seconds of the wall clock people read for t: a zone-known time in the
// local zone, any other as listed.
int64_t WallSeconds(CModTime t);

// "yyyy-MM-dd HH:mm" of the wall clock ("yyyy-MM-dd" for day precision);
// "" without a time.
std::string FormatModTime(CModTime t);
// The whole time with its precision and zone, for tool tips, e.g.
// "2026-12-09 10:23:05（精确到秒，本地时间）".
std::string DescribeModTime(CModTime t);
// ISO 8601 for exports and tarn-cli: "2026-12-09T10:23:05Z" for a time
// whose zone is known, without the "Z" for a server's wall clock, and the
// date alone ("2026-12-09") for day precision; "" without a time.
std::string FormatModTimeIso(CModTime t);

// The UTC seconds of a local wall clock given as seconds read as UTC.
int64_t LocalWallToUtc(int64_t nWall);
// Now, in UTC seconds.
int64_t NowSeconds();

// UTC seconds of a local wall-clock date and time (mktime) and of a wall
// clock read as UTC (timegm), for a civil date.
int64_t LocalToSeconds(int nYear, int nMonth, int nDay, int nHour = 0, int nMinute = 0);
int64_t CivilToSeconds(int nYear, int nMonth, int nDay, int nHour = 0, int nMinute = 0);
