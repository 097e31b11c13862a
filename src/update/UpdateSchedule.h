#pragma once
// When the window updates on its own: every N hours, or daily at a local
// HH:MM. The rules live here, away from timers and settings, so they can be
// run against a clock the caller moves by hand.
//
// Every N hours counts real hours from the last run's start, so a change of
// the clock for summer time moves nothing. Daily at HH:MM follows the local
// clock: on the day the clock skips HH:MM the run comes when the clock reads
// HH:MM plus the skipped hour; on the day HH:MM happens twice it runs at the
// first. A run that lasts past the next due time does not queue another run
// behind itself: the next one is the first due time after it has ended.
//
// Thread: one thread (the window's GUI thread); plain values.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

enum class ScheduleKind
{
    off,
    everyHours,
    daily,
};

struct CScheduleRule
{
    static constexpr int MIN_HOURS = 1;
    static constexpr int MAX_HOURS = 168;

    ScheduleKind nKind = ScheduleKind::off;
    int nEveryHours = 6;  // MIN_HOURS..MAX_HOURS
    int nDailyMinute = 0; // minutes after local midnight, 0..1439
    bool bCatchUp = true; // a run missed while nothing ran is made up at start

    bool operator==(const CScheduleRule&) const = default;
    // Out-of-range values brought into range (settings edited by hand).
    CScheduleRule Clamped() const;
};

using ScheduleTime = std::chrono::sys_seconds;

// The first time after tAfter at which the rule is due, counted from the
// last run's start tAnchor (tAfter >= tAnchor); none for an "off" rule.
std::optional<ScheduleTime> NextScheduledTime(const CScheduleRule& rule, ScheduleTime tAnchor,
                                              ScheduleTime tAfter);

// The local time on a day at minute nMinute after midnight (see above for
// a skipped or doubled time).
ScheduleTime LocalTimeOnDay(std::chrono::year_month_day day, int nMinute);

// "HH:MM" <-> minutes after midnight; false for anything else.
[[nodiscard]] bool ParseDailyTime(const std::string& strText, int* pnMinute);
std::string FormatDailyTime(int nMinute);

class CUpdateSchedule
{
public:
    using Clock = std::function<ScheduleTime()>;

    explicit CUpdateSchedule(Clock clock);
    void SetClock(Clock clock) { m_clock = std::move(clock); }

    // A rule that changes (off to on, or another time) counts from now.
    void SetRule(const CScheduleRule& rule);
    const CScheduleRule& GetRule() const { return m_rule; }

    // What was kept from the last run of the program: the time due times
    // count from (the last run's start, or when the rule was set).
    void Restore(std::optional<ScheduleTime> anchor);
    std::optional<ScheduleTime> GetAnchor() const { return m_anchor; }

    // At the program's start: when a due time passed while nothing ran and
    // the rule makes up for it, one run is due after delay; otherwise the
    // missed time is let go and the next one is waited for. True when a run
    // was planned.
    bool Start(std::chrono::seconds delay);

    // A run should begin now (the rule is on, nothing runs, its time came).
    bool IsDue() const;
    // When the next run is due (none: off).
    std::optional<ScheduleTime> GetNextRun() const;

    void OnRunStarted();
    void OnRunEnded();
    bool IsRunning() const { return m_bRunning; }

private:
    ScheduleTime Now() const { return m_clock(); }

    Clock m_clock;
    CScheduleRule m_rule;
    std::optional<ScheduleTime> m_anchor;  // last run's start, or when the rule was set
    std::optional<ScheduleTime> m_lastEnd; // the last run's end, in this process
    std::optional<ScheduleTime> m_catchUp; // a missed run made up at this time
    bool m_bRunning = false;
};
