#pragma once
// The armed schedule's memory of the last minute it checked, kept in a small file beside the
// log, so that due minutes that pass unchecked (the machine asleep, the clock stepped forward,
// the program not running) are noticed and made up once. Arming starts a fresh record and
// stopping ends it, so minutes while stopped are never missed; ending the program while armed
// keeps it, since that is what a shutdown looks like. The record knows the schedule it was kept
// under: one kept under another schedule says nothing about the present one's minutes.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "engine/Schedule.h"

namespace qv {

// The due minutes of one gap: how many, and the latest of them.
struct TMissedMinutes {
    int count = 0;
    LocalTime latest;
};

// A minute the schedule checked: the moment (its minute counted from the epoch), what the wall
// clock showed then, and the schedule in force.
struct TCheckedMinute {
    int64_t utc_minute = 0;
    LocalTime local;  // seconds and milliseconds 0
    TScheduleChoice schedule;
};

// Whether two schedules are due in the same minutes (the specific time counts only in its mode).
bool SameDueMinutes(const TScheduleChoice& a, const TScheduleChoice& b);

class TScheduleRecord {
public:
    // file: where the record is kept; empty keeps it in memory only.
    explicit TScheduleRecord(std::string file = "");

    void SetFile(std::string file) { file_ = std::move(file); }
    const std::string& File() const { return file_; }

    // Armed by the user: a fresh record from this minute on.
    void Begin(const TScheduleChoice& choice, const ClockReading& now);
    // Stopped: no record, nothing missed until the next Begin.
    void End();
    // A tick at `now`: the due minutes after the last checked one and before now's own minute
    // (which the tick tests itself). Records now as checked.
    TMissedMinutes Tick(const TScheduleChoice& choice, const ClockReading& now);
    // Start-up, which arms the schedule: as a tick, but now's own minute counts too (no tick
    // will test it); without a record, a fresh one.
    TMissedMinutes StartUp(const TScheduleChoice& choice, const ClockReading& now);

    // "無法寫入狀態檔 <file>:<reason>" when the file could not be written since the last call,
    // once until a write succeeds again; empty otherwise.
    std::string TakeWarning();

    // The line for a gap: "錯過備份時間 YYYY/MM/DD HH:NN", and " 等 N 次" when N > 1.
    static std::string MissedLine(const TMissedMinutes& missed);
    // The longest gap looked through, from its newest minute back.
    static constexpr int64_t kLookBackMinutes = 400LL * 24 * 60;

private:
    TMissedMinutes Since(const TCheckedMinute& last, const TScheduleChoice& choice,
                         int64_t until_utc_minute) const;
    std::optional<TCheckedMinute> Load() const;
    void Store(const TCheckedMinute& checked, bool to_file);
    void Failed(int reason);

    std::string file_;
    std::optional<TCheckedMinute> last_;  // the last checked minute, while armed
    bool failing_ = false;                // the file could not be written; said once
    std::string warning_;                 // said at the next TakeWarning
};

// What one look at the armed schedule decides: the line for a gap that let due minutes pass
// (empty when none did), the warning for a record that could not be kept (empty when it was),
// and whether a run starts now: the minute is due, or the gap is made up once (never twice when
// the minute is due as well). tick_time is the run's HHNN.
struct TTickDecision {
    std::string missed_line;
    int missed_count = 0;
    std::string record_warning;
    bool run = false;
};
// A tick of the one-minute timer, at the clock's time `now` (read once for the whole tick).
TTickDecision DecideTick(TScheduleRecord& record, const TScheduleChoice& choice,
                         const ClockReading& now, std::string* tick_time);
// Start-up, which arms the schedule.
TTickDecision DecideStartUp(TScheduleRecord& record, const TScheduleChoice& choice,
                            const ClockReading& now, std::string* tick_time);

}  // namespace qv
