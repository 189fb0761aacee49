#include "engine/ScheduleRecord.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Files.h"
#include "platform/Strings.h"

namespace qv {

namespace {

// YYYYMMDDHHNN, or nothing when the text is not twelve digits.
std::optional<LocalTime> ParseMinute(const std::string& digits) {
    if (digits.size() != 12 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    auto part = [&](size_t at, size_t n) { return std::stoi(digits.substr(at, n)); };
    return LocalTime{part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), 0, 0};
}

std::string MinuteDigits(const LocalTime& t) {
    return DateText(t) + TimeText(t).substr(0, 4);
}

std::optional<int> ParseInt(const std::string& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    const size_t digits_at = text[0] == '-' ? 1 : 0;
    if (digits_at == text.size() ||
        text.find_first_not_of("0123456789", digits_at) != std::string::npos)
        return std::nullopt;
    return std::stoi(text);
}

LocalTime MinuteOnly(LocalTime t) {
    t.second = t.millisecond = 0;
    return t;
}

}  // namespace

bool SameDueMinutes(const TScheduleChoice& a, const TScheduleChoice& b) {
    return a.date_mode == b.date_mode && a.time_mode == b.time_mode &&
           (a.time_mode != 7 || a.specific_time == b.specific_time);
}

TScheduleRecord::TScheduleRecord(std::string file) : file_(std::move(file)) {}

// The file: the wall clock's minute (YYYYMMDDHHNN) on the first line, as it always was; then
// the same minute in UTC and the schedule, with the settings file's keys:
//   202612071225
//   UTC=202612071125
//   BACKUPMODE=0
//   TIMEMODE=0
//   BACKUPTIME=0000
std::optional<TCheckedMinute> TScheduleRecord::Load() const {
    if (file_.empty()) return last_;
    std::string text;
    bool exists = false;
    if (!ReadWholeFile(file_, &text, &exists) || !exists) return std::nullopt;
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    auto value = [&](const std::string& key) -> std::optional<std::string> {
        for (size_t i = 1; i < lines.size(); ++i)
            if (lines[i].rfind(key + "=", 0) == 0) return lines[i].substr(key.size() + 1);
        return std::nullopt;
    };
    // A file of the 12 digits alone was written before the record kept its schedule (and the
    // moment): it cannot tell whether the schedule has changed since, and counting a gap under
    // the wrong schedule invents missed minutes. Such a record starts afresh; at worst one gap
    // around the update goes without its line.
    const std::optional<LocalTime> local =
        lines.empty() ? std::nullopt : ParseMinute(Trim(lines[0]));
    const std::optional<std::string> utc_text = value("UTC"), date_mode = value("BACKUPMODE"),
                                     time_mode = value("TIMEMODE"), time = value("BACKUPTIME");
    if (!local || !utc_text || !date_mode || !time_mode || !time) return std::nullopt;
    const std::optional<LocalTime> utc = ParseMinute(*utc_text);
    const std::optional<int> date_index = ParseInt(*date_mode), time_index = ParseInt(*time_mode);
    if (!utc || !date_index || !time_index) return std::nullopt;
    return TCheckedMinute{MinuteNumber(*utc), *local, {*date_index, *time_index, *time}};
}

void TScheduleRecord::Store(const TCheckedMinute& checked, bool to_file) {
    last_ = checked;
    if (file_.empty() || !to_file) return;
    const TScheduleChoice& s = checked.schedule;
    const std::string text =
        MinuteDigits(checked.local) + "\nUTC=" + MinuteDigits(MinuteOf(checked.utc_minute)) +
        "\nBACKUPMODE=" + std::to_string(s.date_mode) +
        "\nTIMEMODE=" + std::to_string(s.time_mode) + "\nBACKUPTIME=" + s.specific_time + "\n";
    if (ReplaceFileAtomically(file_, text, 0644)) {
        failing_ = false;
        return;
    }
    const int reason = errno;
    // An old record left behind would later speak for minutes this run has checked (a gap that
    // never was); a full disk still lets it go. The next due minute writes it again.
    unlink(file_.c_str());
    Failed(reason);
}

void TScheduleRecord::Failed(int reason) {
    if (failing_) return;  // said once; a successful write lets the next failure be said again
    failing_ = true;
    warning_ = "無法寫入狀態檔 " + file_ + ":" + std::strerror(reason);
}

std::string TScheduleRecord::TakeWarning() {
    std::string w;
    w.swap(warning_);
    return w;
}

void TScheduleRecord::Begin(const TScheduleChoice& choice, const ClockReading& now) {
    Store({UtcMinute(now.utc_ms), MinuteOnly(now.local), choice}, true);
}

void TScheduleRecord::End() {
    last_.reset();
    if (!file_.empty()) unlink(file_.c_str());
}

TMissedMinutes TScheduleRecord::Since(const TCheckedMinute& last, const TScheduleChoice& choice,
                                      int64_t until) const {
    TMissedMinutes missed;
    if (!SameDueMinutes(last.schedule, choice)) return missed;  // starts afresh
    // The moments since the last check, as the wall clock showed them: the hour it skips going
    // forward never shows, and a minute it shows again (going back, or a zone further west)
    // counts only the first time, like everything up to the last minute checked.
    int64_t latest_shown = MinuteNumber(last.local);
    for (int64_t m = std::max(last.utc_minute + 1, until - kLookBackMinutes); m <= until; ++m) {
        const LocalTime minute = LocalTimeAt(m * 60000);
        const int64_t shown = MinuteNumber(minute);
        if (shown <= latest_shown) continue;
        latest_shown = shown;
        if (!BackupDueAt(choice, minute)) continue;
        ++missed.count;
        missed.latest = minute;
    }
    return missed;
}

TMissedMinutes TScheduleRecord::Tick(const TScheduleChoice& choice, const ClockReading& now) {
    const int64_t minute = UtcMinute(now.utc_ms);
    const std::optional<TCheckedMinute> last = last_ ? last_ : Load();
    TMissedMinutes missed;
    // A clock set back gives no gap: the minutes seen again are tested again by their ticks.
    if (last) missed = Since(*last, choice, minute - 1);
    // Only due minutes count as missed, so the file needs the last due minute checked: between
    // it and the last minute checked there is no due minute to miss. A new schedule is written
    // at once, so a restart does not count the old one's gap under it.
    const bool new_schedule = !last || !SameDueMinutes(last->schedule, choice);
    const bool same_minute = last && last->utc_minute == minute && !new_schedule;
    Store({minute, MinuteOnly(now.local), choice},
          !same_minute && (missed.count > 0 || new_schedule || BackupDueAt(choice, now.local)));
    return missed;
}

TMissedMinutes TScheduleRecord::StartUp(const TScheduleChoice& choice, const ClockReading& now) {
    const int64_t minute = UtcMinute(now.utc_ms);
    const std::optional<TCheckedMinute> last = Load();
    TMissedMinutes missed;
    if (last) missed = Since(*last, choice, minute);
    Store({minute, MinuteOnly(now.local), choice}, true);
    return missed;
}

std::string TScheduleRecord::MissedLine(const TMissedMinutes& missed) {
    std::string line = "錯過備份時間 " + MinuteText(missed.latest);
    if (missed.count > 1) line += " 等 " + std::to_string(missed.count) + " 次";
    return line;
}

namespace {
TTickDecision MakeUp(const TMissedMinutes& missed, const LocalTime& now, std::string* tick_time) {
    TTickDecision d;
    if (missed.count == 0) return d;
    d.missed_line = TScheduleRecord::MissedLine(missed);
    d.missed_count = missed.count;
    d.run = true;
    *tick_time = TimeText(now).substr(0, 4);  // named as a run at this minute
    return d;
}
}  // namespace

TTickDecision DecideTick(TScheduleRecord& record, const TScheduleChoice& choice,
                         const ClockReading& now, std::string* tick_time) {
    const TMissedMinutes missed = record.Tick(choice, now);
    std::string due_time = *tick_time;
    const bool due = BackupDueNow(choice, now.local, &due_time);
    TTickDecision d = MakeUp(missed, now.local, tick_time);
    d.record_warning = record.TakeWarning();
    if (due) {
        d.run = true;  // the minute's own run stands for the gap's too
        *tick_time = due_time;
    } else if (!d.run) {
        *tick_time = due_time;  // as the test left it
    }
    return d;
}

TTickDecision DecideStartUp(TScheduleRecord& record, const TScheduleChoice& choice,
                            const ClockReading& now, std::string* tick_time) {
    TTickDecision d = MakeUp(record.StartUp(choice, now), now.local, tick_time);
    d.record_warning = record.TakeWarning();
    return d;
}

}  // namespace qv
