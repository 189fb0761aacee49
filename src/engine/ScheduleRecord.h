#pragma once
// The armed schedule's memory of the last minute it checked, kept in a small file beside the
// log, so that due minutes that pass unchecked (the machine asleep, the clock stepped forward,
// the program not running) are noticed and made up once. Arming starts a fresh record and
// stopping ends it, so minutes while stopped are never missed; ending the program while armed
// keeps it, since that is what a shutdown looks like.
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

class TScheduleRecord {
public:
    // file: where the record is kept; empty keeps it in memory only.
    explicit TScheduleRecord(std::string file = "");

    void SetFile(std::string file) { file_ = std::move(file); }
    const std::string& File() const { return file_; }

    // Armed by the user: a fresh record from this minute on.
    void Begin(const LocalTime& now);
    // Stopped: no record, nothing missed until the next Begin.
    void End();
    // A tick at `now`: the due minutes after the last checked one and before now's own minute
    // (which the tick tests itself). Records now as checked.
    TMissedMinutes Tick(const TScheduleChoice& choice, const LocalTime& now);
    // Start-up, which arms the schedule: as a tick, but now's own minute counts too (no tick
    // will test it); without a record, a fresh one.
    TMissedMinutes StartUp(const TScheduleChoice& choice, const LocalTime& now);

    // The line for a gap: "錯過備份時間 YYYY/MM/DD HH:NN", and " 等 N 次" when N > 1.
    static std::string MissedLine(const TMissedMinutes& missed);
    // The longest gap looked through, from its newest minute back.
    static constexpr int64_t kLookBackMinutes = 400LL * 24 * 60;

private:
    TMissedMinutes Since(const TScheduleChoice& choice, int64_t last, int64_t until) const;
    std::optional<int64_t> Load() const;
    void Store(int64_t minute, bool to_file);

    std::string file_;
    std::optional<int64_t> last_;  // the last checked minute (MinuteNumber), while armed
};

// What one look at the armed schedule decides: the line for a gap that let due minutes pass
// (empty when none did), and whether a run starts now: the minute is due, or the gap is made up
// once (never twice when the minute is due as well). tick_time is the run's HHNN.
struct TTickDecision {
    std::string missed_line;
    bool run = false;
};
// A tick of the one-minute timer, at the clock's time.
TTickDecision DecideTick(TScheduleRecord& record, const TScheduleChoice& choice,
                         std::string* tick_time);
// Start-up, which arms the schedule.
TTickDecision DecideStartUp(TScheduleRecord& record, const TScheduleChoice& choice,
                            std::string* tick_time);

}  // namespace qv
