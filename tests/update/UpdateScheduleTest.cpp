// When scheduled updates are due, against a clock the test moves: every N
// hours, daily at HH:MM across summer-time changes, a missed run at start,
// and a run that lasts longer than the interval.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "update/UpdateSchedule.h"

using namespace std::chrono;
using namespace std::chrono_literals;

namespace
{
// Central Europe: summer time from the last Sunday of March 02:00 to the
// last Sunday of October 03:00 (2026: 29 March and 25 October).
constexpr const char* ZONE = "CET-1CEST,M3.5.0,M10.5.0/3";

class CZone
{
public:
    explicit CZone(const char* pszZone)
    {
        if (const char* pszOld = std::getenv("TZ"))
            m_old = pszOld;
        setenv("TZ", pszZone, 1);
        tzset();
    }
    ~CZone()
    {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

// "2026-03-29 01:30" UTC.
ScheduleTime Utc(int nYear, unsigned nMonth, unsigned nDay, int nHour, int nMinute)
{
    return ScheduleTime{sys_days{year{nYear} / month{nMonth} / day{nDay}} + hours{nHour} +
                        minutes{nMinute}};
}

CScheduleRule Every(int nHours, bool bCatchUp = true)
{
    CScheduleRule rule;
    rule.nKind = ScheduleKind::everyHours;
    rule.nEveryHours = nHours;
    rule.bCatchUp = bCatchUp;
    return rule;
}

CScheduleRule Daily(int nHour, int nMinute, bool bCatchUp = true)
{
    CScheduleRule rule;
    rule.nKind = ScheduleKind::daily;
    rule.nDailyMinute = nHour * 60 + nMinute;
    rule.bCatchUp = bCatchUp;
    return rule;
}

struct CFakeClock
{
    ScheduleTime now;
    CUpdateSchedule::Clock Fn()
    {
        return [this] { return now; };
    }
};
} // namespace

TEST(UpdateScheduleTest, NextTimeFollowsTheRule)
{
    CZone zone(ZONE);
    struct CRow
    {
        const char* pszName;
        CScheduleRule rule;
        ScheduleTime anchor;
        ScheduleTime after;
        ScheduleTime expected;
    };
    const CRow rows[] = {
        {"every 6 h from the anchor", Every(6), Utc(2026, 5, 1, 10, 0), Utc(2026, 5, 1, 10, 0),
         Utc(2026, 5, 1, 16, 0)},
        {"every 6 h keeps its step past missed times", Every(6), Utc(2026, 5, 1, 10, 0),
         Utc(2026, 5, 2, 3, 0), Utc(2026, 5, 2, 4, 0)},
        {"every 6 h exactly on a due time goes to the next", Every(6), Utc(2026, 5, 1, 10, 0),
         Utc(2026, 5, 1, 16, 0), Utc(2026, 5, 1, 22, 0)},
        {"every 168 h", Every(168), Utc(2026, 5, 1, 10, 0), Utc(2026, 5, 1, 10, 0),
         Utc(2026, 5, 8, 10, 0)},
        {"every 0 h counts as 1", Every(0), Utc(2026, 5, 1, 10, 0), Utc(2026, 5, 1, 10, 0),
         Utc(2026, 5, 1, 11, 0)},
        {"every 6 h across the spring change is 6 real hours", Every(6), Utc(2026, 3, 28, 22, 0),
         Utc(2026, 3, 28, 22, 0), Utc(2026, 3, 29, 4, 0)},
        // Local 09:30 in summer is 07:30 UTC, in winter 08:30 UTC.
        {"daily later the same day", Daily(9, 30), Utc(2026, 5, 1, 5, 0), Utc(2026, 5, 1, 5, 0),
         Utc(2026, 5, 1, 7, 30)},
        {"daily past today's time goes to tomorrow", Daily(9, 30), Utc(2026, 5, 1, 8, 0),
         Utc(2026, 5, 1, 8, 0), Utc(2026, 5, 2, 7, 30)},
        {"daily at midnight", Daily(0, 0), Utc(2026, 5, 1, 8, 0), Utc(2026, 5, 1, 8, 0),
         Utc(2026, 5, 1, 22, 0)},
        {"daily keeps local time over the spring change", Daily(9, 30), Utc(2026, 3, 28, 9, 0),
         Utc(2026, 3, 28, 9, 0), Utc(2026, 3, 29, 7, 30)},
        {"daily keeps local time over the autumn change", Daily(9, 30), Utc(2026, 10, 24, 8, 0),
         Utc(2026, 10, 24, 8, 0), Utc(2026, 10, 25, 8, 30)},
        // 02:30 does not exist on 29 March: the clock jumps 02:00 -> 03:00.
        {"daily at a skipped time runs an hour later", Daily(2, 30), Utc(2026, 3, 28, 12, 0),
         Utc(2026, 3, 28, 12, 0), Utc(2026, 3, 29, 1, 30)},
        // 02:30 happens twice on 25 October: first in summer time (00:30 UTC).
        {"daily at a doubled time runs at the first", Daily(2, 30), Utc(2026, 10, 24, 12, 0),
         Utc(2026, 10, 24, 12, 0), Utc(2026, 10, 25, 0, 30)},
        {"daily not again at the second of a doubled time", Daily(2, 30), Utc(2026, 10, 25, 0, 30),
         Utc(2026, 10, 25, 0, 31), Utc(2026, 10, 26, 1, 30)},
    };
    for (const CRow& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        std::optional<ScheduleTime> next = NextScheduledTime(row.rule, row.anchor, row.after);
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(*next, row.expected);
    }
    EXPECT_FALSE(NextScheduledTime(CScheduleRule{}, Utc(2026, 5, 1, 0, 0), Utc(2026, 5, 1, 0, 0)));
}

TEST(UpdateScheduleTest, DailyTimeTexts)
{
    struct CRow
    {
        const char* pszText;
        bool bValid;
        int nMinute;
    };
    const CRow rows[] = {
        {"00:00", true, 0},  {"9:05", true, 545}, {"23:59", true, 1439}, {"24:00", false, 0},
        {"12:60", false, 0}, {"12:5", false, 0},  {"1230", false, 0},    {"12:30x", false, 0},
        {" 1:30", false, 0}, {"", false, 0},      {"-1:30", false, 0},   {"12:-3", false, 0},
    };
    for (const CRow& row : rows)
    {
        SCOPED_TRACE(row.pszText);
        int nMinute = -1;
        EXPECT_EQ(ParseDailyTime(row.pszText, &nMinute), row.bValid);
        if (row.bValid)
        {
            EXPECT_EQ(nMinute, row.nMinute);
            EXPECT_EQ(FormatDailyTime(nMinute).size(), 5u);
            int nBack = -1;
            EXPECT_TRUE(ParseDailyTime(FormatDailyTime(nMinute), &nBack));
            EXPECT_EQ(nBack, nMinute);
        }
    }
}

TEST(UpdateScheduleTest, MissedRunAtStart)
{
    CZone zone(ZONE);
    struct CRow
    {
        const char* pszName;
        CScheduleRule rule;
        std::optional<ScheduleTime> anchor; // kept from the last run of the program
        ScheduleTime start;
        bool bCatchUp;        // a run is made up
        ScheduleTime nextRun; // the next run the window shows
    };
    const CRow rows[] = {
        {"missed, made up after the delay", Every(6), Utc(2026, 5, 1, 0, 0), Utc(2026, 5, 1, 9, 0),
         true, Utc(2026, 5, 1, 9, 1)},
        {"missed, not made up: the next in step", Every(6, false), Utc(2026, 5, 1, 0, 0),
         Utc(2026, 5, 1, 9, 0), false, Utc(2026, 5, 1, 12, 0)},
        {"not missed yet", Every(6), Utc(2026, 5, 1, 0, 0), Utc(2026, 5, 1, 5, 0), false,
         Utc(2026, 5, 1, 6, 0)},
        {"daily missed yesterday", Daily(8, 0), Utc(2026, 5, 1, 7, 0), Utc(2026, 5, 2, 12, 0), true,
         Utc(2026, 5, 2, 12, 1)},
        {"daily not missed", Daily(20, 0), Utc(2026, 5, 1, 19, 0), Utc(2026, 5, 2, 12, 0), false,
         Utc(2026, 5, 2, 18, 0)},
        {"nothing kept: counts from now", Every(6), std::nullopt, Utc(2026, 5, 1, 9, 0), false,
         Utc(2026, 5, 1, 15, 0)},
        {"a clock set back: counts from now", Every(6), Utc(2026, 5, 3, 0, 0),
         Utc(2026, 5, 1, 9, 0), false, Utc(2026, 5, 1, 15, 0)},
    };
    for (const CRow& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        CFakeClock clock{row.start};
        CUpdateSchedule schedule(clock.Fn());
        schedule.SetRule(row.rule);
        schedule.Restore(row.anchor);
        EXPECT_EQ(schedule.Start(60s), row.bCatchUp);
        EXPECT_FALSE(schedule.IsDue()); // never at once: the start stays quick
        ASSERT_TRUE(schedule.GetNextRun().has_value());
        EXPECT_EQ(*schedule.GetNextRun(), row.nextRun);
        clock.now = row.nextRun;
        EXPECT_TRUE(schedule.IsDue());
    }

    // Made up once only: after the run, the rule's own next time.
    CFakeClock clock{Utc(2026, 5, 1, 9, 0)};
    CUpdateSchedule schedule(clock.Fn());
    schedule.SetRule(Every(6));
    schedule.Restore(Utc(2026, 5, 1, 0, 0));
    ASSERT_TRUE(schedule.Start(60s));
    clock.now += 60s;
    ASSERT_TRUE(schedule.IsDue());
    schedule.OnRunStarted();
    clock.now += 5min;
    schedule.OnRunEnded();
    EXPECT_FALSE(schedule.IsDue());
    EXPECT_EQ(*schedule.GetNextRun(), Utc(2026, 5, 1, 15, 1));
    EXPECT_EQ(*schedule.GetAnchor(), Utc(2026, 5, 1, 9, 1));
}

TEST(UpdateScheduleTest, RunLongerThanTheInterval)
{
    CFakeClock clock{Utc(2026, 5, 1, 10, 0)};
    CUpdateSchedule schedule(clock.Fn());
    schedule.SetRule(Every(1));
    clock.now = Utc(2026, 5, 1, 11, 0);
    ASSERT_TRUE(schedule.IsDue());
    schedule.OnRunStarted();
    // Due times pass while it runs: nothing starts twice.
    for (int nHour : {12, 13})
    {
        clock.now = Utc(2026, 5, 1, nHour, 0);
        EXPECT_FALSE(schedule.IsDue()) << nHour;
    }
    clock.now = Utc(2026, 5, 1, 13, 30);
    schedule.OnRunEnded();
    // Not at once to catch up: the first due time after its end.
    EXPECT_FALSE(schedule.IsDue());
    EXPECT_EQ(*schedule.GetNextRun(), Utc(2026, 5, 1, 14, 0));
    clock.now = Utc(2026, 5, 1, 14, 0);
    EXPECT_TRUE(schedule.IsDue());
}

TEST(UpdateScheduleTest, ChangingTheRuleCountsFromNow)
{
    CFakeClock clock{Utc(2026, 5, 1, 10, 0)};
    CUpdateSchedule schedule(clock.Fn());
    EXPECT_FALSE(schedule.GetNextRun()); // off by default
    EXPECT_FALSE(schedule.Start(60s));
    schedule.SetRule(Every(6));
    EXPECT_EQ(*schedule.GetNextRun(), Utc(2026, 5, 1, 16, 0));
    clock.now = Utc(2026, 5, 1, 12, 0);
    CScheduleRule same = Every(6, false); // only the catch-up choice changes
    schedule.SetRule(same);
    EXPECT_EQ(*schedule.GetNextRun(), Utc(2026, 5, 1, 16, 0));
    schedule.SetRule(Every(2));
    EXPECT_EQ(*schedule.GetNextRun(), Utc(2026, 5, 1, 14, 0));
    schedule.SetRule(CScheduleRule{});
    clock.now = Utc(2026, 6, 1, 0, 0);
    EXPECT_FALSE(schedule.IsDue());
}
