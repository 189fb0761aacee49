#include "engine/ScheduleRecord.h"

#include <unistd.h>

#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Strings.h"

namespace qv {

TScheduleRecord::TScheduleRecord(std::string file) : file_(std::move(file)) {}

std::optional<int64_t> TScheduleRecord::Load() const {
    if (file_.empty()) return last_;
    std::string text;
    bool exists = false;
    if (!ReadWholeFile(file_, &text, &exists) || !exists) return std::nullopt;
    // YYYYMMDDHHNN
    const std::string digits = Trim(text);
    if (digits.size() != 12 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    auto part = [&](size_t at, size_t n) { return std::stoi(digits.substr(at, n)); };
    return MinuteNumber(
        LocalTime{part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), 0, 0});
}

void TScheduleRecord::Store(int64_t minute, bool to_file) {
    if (last_ == minute) return;  // the same minute again: nothing new to write
    last_ = minute;
    if (file_.empty() || !to_file) return;
    const LocalTime t = MinuteOf(minute);
    ReplaceFileAtomically(file_, DateText(t) + TimeText(t).substr(0, 4) + "\n", 0644);
}

void TScheduleRecord::Begin(const LocalTime& now) {
    last_.reset();
    Store(MinuteNumber(now), true);
}

void TScheduleRecord::End() {
    last_.reset();
    if (!file_.empty()) unlink(file_.c_str());
}

TMissedMinutes TScheduleRecord::Since(const TScheduleChoice& choice, int64_t last,
                                      int64_t until) const {
    TMissedMinutes missed;
    // A clock set back gives no gap: the minutes seen again are tested again by their ticks.
    for (int64_t m = std::max(last + 1, until - kLookBackMinutes); m <= until; ++m) {
        const LocalTime minute = MinuteOf(m);
        if (!BackupDueAt(choice, minute)) continue;
        ++missed.count;
        missed.latest = minute;
    }
    return missed;
}

TMissedMinutes TScheduleRecord::Tick(const TScheduleChoice& choice, const LocalTime& now) {
    const int64_t minute = MinuteNumber(now);
    const std::optional<int64_t> last = last_ ? last_ : Load();
    TMissedMinutes missed;
    if (last) missed = Since(choice, *last, minute - 1);
    // Only due minutes count as missed, so the file needs the last due minute checked: between
    // it and the last minute checked there is no due minute to miss.
    Store(minute, missed.count > 0 || BackupDueAt(choice, now));
    return missed;
}

TMissedMinutes TScheduleRecord::StartUp(const TScheduleChoice& choice, const LocalTime& now) {
    const int64_t minute = MinuteNumber(now);
    const std::optional<int64_t> last = Load();
    TMissedMinutes missed;
    if (last) missed = Since(choice, *last, minute);
    last_.reset();
    Store(minute, true);
    return missed;
}

std::string TScheduleRecord::MissedLine(const TMissedMinutes& missed) {
    std::string line = "錯過備份時間 " + MinuteText(missed.latest);
    if (missed.count > 1) line += " 等 " + std::to_string(missed.count) + " 次";
    return line;
}

namespace {
TTickDecision MakeUp(const TMissedMinutes& missed, std::string* tick_time) {
    TTickDecision d;
    if (missed.count == 0) return d;
    d.missed_line = TScheduleRecord::MissedLine(missed);
    d.run = true;
    *tick_time = TimeText(Clock().Now()).substr(0, 4);  // named as a run at this minute
    return d;
}
}  // namespace

TTickDecision DecideTick(TScheduleRecord& record, const TScheduleChoice& choice,
                         std::string* tick_time) {
    const TMissedMinutes missed = record.Tick(choice, Clock().Now());
    std::string due_time = *tick_time;
    const bool due = BackupDueNow(choice, &due_time);
    TTickDecision d = MakeUp(missed, tick_time);
    if (due) {
        d.run = true;  // the minute's own run stands for the gap's too
        *tick_time = due_time;
    } else if (!d.run) {
        *tick_time = due_time;  // as the test left it
    }
    return d;
}

TTickDecision DecideStartUp(TScheduleRecord& record, const TScheduleChoice& choice,
                            std::string* tick_time) {
    return MakeUp(record.StartUp(choice, Clock().Now()), tick_time);
}

}  // namespace qv
