#include "engine/RunHook.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "platform/Strings.h"

namespace qv {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QProcessEnvironment OutcomeEnvironment(const TRunOutcome& outcome) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUORVANE_OUTCOME", OutcomeName(outcome.kind));
    env.insert("QUORVANE_LINE", Q(outcome.line));
    env.insert("QUORVANE_FILE", Q(outcome.file));
    env.insert("QUORVANE_DATABASE", Q(outcome.database));
    env.insert("QUORVANE_SERVER", Q(outcome.server));
    env.insert("QUORVANE_STARTED", QString::number(outcome.started));
    env.insert("QUORVANE_ENDED", QString::number(outcome.ended));
    env.insert("QUORVANE_BYTES", outcome.bytes ? QString::number(*outcome.bytes) : QString());
    env.insert("QUORVANE_VERIFIED",
               outcome.verified ? QString(*outcome.verified ? "1" : "0") : QString());
    return env;
}

// Whether group or others may write the settings file (a file that cannot be looked at is
// judged when it is read, not here).
bool WritableByOthers(const std::string& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && (st.st_mode & 022) != 0;
}

}  // namespace

TRunHook::TRunHook(TLineEvent on_line)
    : on_line_(std::move(on_line)), limit_(std::make_unique<QTimer>()) {
    limit_->setSingleShot(true);
    QObject::connect(limit_.get(), &QTimer::timeout, limit_.get(), [this] {
        timed_out_ = true;
        KillGroup();
    });
}

TRunHook::~TRunHook() {
    pending_.clear();
    if (process_) {
        process_->disconnect();
        KillGroup();
        process_->waitForFinished(2000);  // reaps it; the kill cannot be refused
    }
}

void TRunHook::Run(const std::string& command, const TRunOutcome& outcome,
                   const std::string& settings_file) {
    if (command.empty()) return;
    if (!settings_file.empty() && WritableByOthers(settings_file)) {
        on_line_("不執行 HOOKCMD：設定檔 " + settings_file + " 可由其他使用者寫入",
                 TLinePriority::Failure);
        return;
    }
    if (pending_.size() >= kMaxPending) {
        on_line_(std::string("HOOKCMD 等待執行的太多，略過較早的一次（") +
                     OutcomeName(pending_.front().outcome.kind) + "）",
                 TLinePriority::Warning);
        pending_.pop_front();
    }
    pending_.push_back({command, outcome});
    if (!process_) StartNext();
}

bool TRunHook::Busy() const {
    return process_ != nullptr || !pending_.empty();
}

bool TRunHook::WaitIdle(int timeout_ms) {
    if (!Busy()) return true;
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(timeout_ms);
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
    return !Busy();
}

void TRunHook::StartNext() {
    if (process_) return;
    if (pending_.empty()) return QuitWaitingWhenIdle();
    TPending next = std::move(pending_.front());
    pending_.pop_front();
    partial_.clear();
    output_lines_ = 0;
    timed_out_ = false;

    process_ = std::make_unique<QProcess>();
    QProcess* p = process_.get();
    p->setProcessEnvironment(OutcomeEnvironment(next.outcome));
    p->setProcessChannelMode(QProcess::MergedChannels);  // lines in the order they were written
    p->setStandardInputFile(QProcess::nullDevice());
    // A group of its own, so that the time limit ends what the command started as well.
    p->setChildProcessModifier([] { setsid(); });
    QObject::connect(p, &QProcess::readyRead, p, [this] { ReadOutput(false); });
    QObject::connect(p, &QProcess::finished, p, [this](int code, QProcess::ExitStatus status) {
        Finished(code, status == QProcess::CrashExit);
    });
    QObject::connect(p, &QProcess::errorOccurred, p, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) FailedToStart();
    });
    limit_->start(time_limit_ms);
    // Last: a start that fails may report it (and start the next hook) before returning.
    p->start(Q(shell), {"-c", Q(next.command)});
}

void TRunHook::ReadOutput(bool at_end) {
    partial_ += process_->readAll().toStdString();
    for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
        OutputLine(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
    // A line that never ends is logged in pieces, so it cannot grow without bound.
    while (partial_.size() > kMaxLineBytes) {
        std::string piece = CutUtf8(partial_, kMaxLineBytes);
        if (piece.empty()) piece = partial_.substr(0, kMaxLineBytes);
        OutputLine(piece);
        partial_.erase(0, piece.size());
    }
    if (at_end && !partial_.empty()) {
        OutputLine(partial_);
        partial_.clear();
    }
}

void TRunHook::OutputLine(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;
    // One log line each: no control character may break or rewrite it.
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (output_lines_ < kMaxOutputLines)
        on_line_("HOOKCMD 輸出:" + CutUtf8(line, kMaxLineBytes), TLinePriority::Info);
    else if (output_lines_ == kMaxOutputLines)
        on_line_("HOOKCMD 輸出過多，其餘省略", TLinePriority::Info);
    ++output_lines_;
}

void TRunHook::Finished(int exit_code, bool crashed) {
    ReadOutput(true);
    if (timed_out_)
        on_line_("HOOKCMD 執行超過 60 秒，已終止", TLinePriority::Warning);
    else if (crashed)  // QProcess gives the signal's number as the code
        on_line_("HOOKCMD 因信號 " + std::to_string(exit_code) + " 結束", TLinePriority::Warning);
    else if (exit_code != 0)
        on_line_("HOOKCMD 結束代碼 " + std::to_string(exit_code), TLinePriority::Warning);
    Retire();
    StartNext();
}

void TRunHook::FailedToStart() {
    on_line_("無法執行 HOOKCMD:" + process_->errorString().toStdString(), TLinePriority::Warning);
    Retire();
    // Not at once: this may be inside the failed process's start, which must outlive it.
    QTimer::singleShot(0, limit_.get(), [this] { StartNext(); });
}

// The finished process is kept until the next one ends: it may still be inside its own signal.
void TRunHook::Retire() {
    limit_->stop();
    process_->disconnect();
    retired_ = std::move(process_);
}

void TRunHook::KillGroup() {
    if (!process_) return;
    const qint64 pid = process_->processId();
    if (pid <= 0) return;
    kill(static_cast<pid_t>(-pid), SIGKILL);  // the shell and everything it started
    kill(static_cast<pid_t>(pid), SIGKILL);   // in case it had no group of its own yet
}

void TRunHook::QuitWaitingWhenIdle() {
    if (!Busy() && waiting_) waiting_->quit();
}

}  // namespace qv
