#pragma once
// HOOKCMD: the administrator's command, run after a run's end or a missed-minute line with the
// outcome in its environment, so that it can mail or post the news anywhere. It runs beside the
// schedule, never in its way: one hook at a time, on the caller's event loop, bounded in time
// and in what it may write to the log.
#include <deque>
#include <memory>
#include <string>

#include "engine/LinePriority.h"
#include "engine/RunOutcome.h"

class QProcess;
class QEventLoop;
class QTimer;

namespace qv {

class TRunHook {
public:
    // Lines are reported on the thread that made the hook runner (its event loop runs the hook).
    explicit TRunHook(TLineEvent on_line);
    // Kills a hook still running (with everything it started); pending ones never run.
    ~TRunHook();
    TRunHook(const TRunHook&) = delete;
    TRunHook& operator=(const TRunHook&) = delete;

    // Runs `/bin/sh -c command` with the outcome in its environment (QUORVANE_OUTCOME, _LINE,
    // _FILE, _DATABASE, _SERVER, _STARTED, _ENDED, _BYTES, _VERIFIED) and an empty stdin; its
    // output lines are logged as "HOOKCMD 輸出:<line>". Returns at once: while a hook runs, this
    // one waits its turn (at most kMaxPending wait; the oldest is dropped with a warning).
    // A settings file that group or others may write is refused with a failure line: whoever
    // can write it could make this program run their command.
    void Run(const std::string& command, const TRunOutcome& outcome,
             const std::string& settings_file);
    // Whether a hook runs or waits.
    bool Busy() const;
    // Runs the event loop until no hook runs or waits, or timeout_ms has passed; true when idle.
    bool WaitIdle(int timeout_ms);

    // A hook running longer is killed, with its process group (tests make it short).
    int time_limit_ms = 60000;
    // The shell the command is given to (tests name one that does not exist).
    std::string shell = "/bin/sh";
    static constexpr size_t kMaxPending = 10;
    static constexpr int kMaxOutputLines = 20;
    static constexpr size_t kMaxLineBytes = 1000;

private:
    struct TPending {
        std::string command;
        TRunOutcome outcome;
    };
    void StartNext();
    void ReadOutput(bool at_end);
    void OutputLine(std::string line);
    void Finished(int exit_code, bool crashed);
    void FailedToStart();
    void Retire();
    void KillGroup();
    void QuitWaitingWhenIdle();

    TLineEvent on_line_;
    std::deque<TPending> pending_;
    std::unique_ptr<QProcess> process_;  // the running hook
    std::unique_ptr<QProcess> retired_;  // the last one, deleted outside its own signals
    std::unique_ptr<QTimer> limit_;
    std::string partial_;  // output after the last line break
    int output_lines_ = 0;
    bool timed_out_ = false;
    QEventLoop* waiting_ = nullptr;
};

}  // namespace qv
