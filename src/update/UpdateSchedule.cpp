#include "update/UpdateSchedule.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace
{
constexpr int MINUTES_PER_DAY = 24 * 60;

std::chrono::year_month_day LocalDay(ScheduleTime t)
{
    std::time_t tt = t.time_since_epoch().count();
    std::tm local{};
    localtime_r(&tt, &local);
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{unsigned(local.tm_mon + 1)},
                                       std::chrono::day{unsigned(local.tm_mday)}};
}

std::tm DayAt(std::chrono::year_month_day day, int nMinute, int nDst)
{
    std::tm local{};
    local.tm_year = int(day.year()) - 1900;
    local.tm_mon = int(unsigned(day.month())) - 1;
    local.tm_mday = int(unsigned(day.day()));
    local.tm_hour = nMinute / 60;
    local.tm_min = nMinute % 60;
    local.tm_isdst = nDst;
    return local;
}
} // namespace

CScheduleRule CScheduleRule::Clamped() const
{
    CScheduleRule rule = *this;
    rule.nEveryHours = std::clamp(rule.nEveryHours, MIN_HOURS, MAX_HOURS);
    rule.nDailyMinute = std::clamp(rule.nDailyMinute, 0, MINUTES_PER_DAY - 1);
    return rule;
}

ScheduleTime LocalTimeOnDay(std::chrono::year_month_day day, int nMinute)
{
    // Both readings of the wall time; the ones the clock really shows that
    // day are kept, the earlier wins (a time that happens twice).
    std::optional<std::time_t> best;
    for (int nDst : {0, 1})
    {
        std::tm want = DayAt(day, nMinute, nDst);
        std::tm tried = want;
        std::time_t t = std::mktime(&tried);
        if (t == -1)
            continue;
        std::tm back{};
        localtime_r(&t, &back);
        if (back.tm_isdst != nDst || back.tm_hour != want.tm_hour || back.tm_min != want.tm_min ||
            back.tm_mday != want.tm_mday || back.tm_mon != want.tm_mon)
            continue;
        if (!best || t < *best)
            best = t;
    }
    if (!best)
    {
        // A time the clock skips: read in the offset before the change, which
        // lands as far past it as the clock jumped.
        std::tm skipped = DayAt(day, nMinute, 0);
        best = std::mktime(&skipped);
    }
    return ScheduleTime{std::chrono::seconds{*best}};
}

std::optional<ScheduleTime> NextScheduledTime(const CScheduleRule& rule, ScheduleTime tAnchor,
                                              ScheduleTime tAfter)
{
    tAfter = std::max(tAfter, tAnchor);
    switch (rule.nKind)
    {
    case ScheduleKind::off:
        return std::nullopt;
    case ScheduleKind::everyHours:
    {
        std::chrono::seconds period = std::chrono::hours{rule.Clamped().nEveryHours};
        auto nPeriods = (tAfter - tAnchor) / period + 1;
        return tAnchor + nPeriods * period;
    }
    case ScheduleKind::daily:
    {
        int nMinute = rule.Clamped().nDailyMinute;
        std::chrono::sys_days day{LocalDay(tAfter)};
        // The day of tAfter, else the next; a day further covers a time
        // that a change of zone moved across midnight.
        for (int i = 0; i < 3; ++i, day += std::chrono::days{1})
        {
            ScheduleTime t = LocalTimeOnDay(std::chrono::year_month_day{day}, nMinute);
            if (t > tAfter)
                return t;
        }
        return tAfter + std::chrono::days{1};
    }
    }
    return std::nullopt;
}

bool ParseDailyTime(const std::string& strText, int* pnMinute)
{
    // "H:MM" or "HH:MM", digits only.
    size_t nColon = strText.find(':');
    if (nColon < 1 || nColon > 2 || strText.size() != nColon + 3)
        return false;
    int nHour = 0;
    int nMinute = 0;
    for (size_t i = 0; i < strText.size(); ++i)
    {
        if (i == nColon)
            continue;
        if (strText[i] < '0' || strText[i] > '9')
            return false;
        int& nPart = i < nColon ? nHour : nMinute;
        nPart = nPart * 10 + (strText[i] - '0');
    }
    if (nHour > 23 || nMinute > 59)
        return false;
    *pnMinute = nHour * 60 + nMinute;
    return true;
}

std::string FormatDailyTime(int nMinute)
{
    char szText[8];
    std::snprintf(szText, sizeof(szText), "%02d:%02d", (nMinute / 60) % 24, nMinute % 60);
    return szText;
}

CUpdateSchedule::CUpdateSchedule(Clock clock) : m_clock(std::move(clock)) {}

void CUpdateSchedule::SetRule(const CScheduleRule& rule)
{
    CScheduleRule clamped = rule.Clamped();
    bool bTimesMove =
        clamped.nKind != m_rule.nKind ||
        (clamped.nKind == ScheduleKind::everyHours && clamped.nEveryHours != m_rule.nEveryHours) ||
        (clamped.nKind == ScheduleKind::daily && clamped.nDailyMinute != m_rule.nDailyMinute);
    m_rule = clamped;
    if (bTimesMove || !m_anchor)
    {
        m_anchor = Now();
        m_lastEnd.reset();
        m_catchUp.reset();
    }
}

void CUpdateSchedule::Restore(std::optional<ScheduleTime> anchor)
{
    m_anchor = anchor;
    m_lastEnd.reset();
    m_catchUp.reset();
}

bool CUpdateSchedule::Start(std::chrono::seconds delay)
{
    if (m_rule.nKind == ScheduleKind::off)
        return false;
    ScheduleTime now = Now();
    if (!m_anchor || *m_anchor > now)
    {
        // Nothing known, or a clock set back: count from now.
        m_anchor = now;
        return false;
    }
    std::optional<ScheduleTime> due = NextScheduledTime(m_rule, *m_anchor, *m_anchor);
    if (!due || *due > now)
        return false;
    if (m_rule.bCatchUp)
    {
        m_catchUp = now + delay;
        return true;
    }
    // Let the missed time go: the next one after now, in step with the rule.
    m_lastEnd = now;
    return false;
}

std::optional<ScheduleTime> CUpdateSchedule::GetNextRun() const
{
    if (m_rule.nKind == ScheduleKind::off || !m_anchor)
        return std::nullopt;
    if (m_catchUp)
        return m_catchUp;
    ScheduleTime tAfter = m_lastEnd ? std::max(*m_lastEnd, *m_anchor) : *m_anchor;
    if (m_bRunning)
        tAfter = std::max(tAfter, Now());
    return NextScheduledTime(m_rule, *m_anchor, tAfter);
}

bool CUpdateSchedule::IsDue() const
{
    if (m_bRunning)
        return false;
    std::optional<ScheduleTime> next = GetNextRun();
    return next && *next <= Now();
}

void CUpdateSchedule::OnRunStarted()
{
    m_bRunning = true;
    m_anchor = Now();
    m_catchUp.reset();
}

void CUpdateSchedule::OnRunEnded()
{
    if (!m_bRunning)
        return;
    m_bRunning = false;
    m_lastEnd = Now();
}
