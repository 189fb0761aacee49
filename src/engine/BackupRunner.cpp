#include "engine/BackupRunner.h"

#include "engine/BackupNaming.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Strings.h"

namespace qv {

namespace {
// The protocol of a run's own connections (a copy, a verification): TCP when none is chosen.
TProtocol RunProtocol(const TBackupSettings& s) {
    TProtocol protocol = TProtocol::TCP;
    ProtocolOfIndex(s.protocol, &protocol);
    return protocol;
}

// The directory part of a path on the server, in either style ("/data/x.fdb" is "/data").
std::string ServerDirectory(const std::string& path) {
    const size_t at = Trim(path).find_last_of("/\\");
    return at == std::string::npos ? "" : Trim(path).substr(0, at == 0 ? 1 : at);
}
}  // namespace

TBackupRunner::TBackupRunner(TIBBackupService& service, TLineEvent on_line)
    : service_(service), on_line_(std::move(on_line)), context_(std::make_unique<QObject>()) {}

TBackupRunner::~TBackupRunner() {
    // No outcome is reported to an owner that is gone.
    if (follower_) follower_->Stop(0);
    if (verifier_) verifier_->Stop(0);
}

void TBackupRunner::Line(const std::string& message, TLinePriority priority) {
    if (on_line_) on_line_(message, priority);
}

void TBackupRunner::StepEnded(const std::string& line, bool succeeded, const std::string& told) {
    last_line_ = line;
    if (!succeeded && failed_line_.empty()) {
        failed_line_ = line;
        failed_told_ = told.empty() ? line : told;
    }
    // The copy here is made whatever became of the server's own backup: it does not need the
    // server's disk, which is what fails most.
    if (copy_pending_ && !closing_) {
        copy_pending_ = false;
        StartStreaming();
        return;
    }
    RunEnded();
}

void TBackupRunner::RunEnded() {
    const bool succeeded = failed_line_.empty();
    const std::string& line = succeeded ? last_line_ : failed_line_;
    last_run_ = TRunReport{started_, line, succeeded};
    if (backup_run_ && OnBackupEnded) {
        TRunOutcome outcome;
        outcome.kind = succeeded ? TOutcomeKind::Success : TOutcomeKind::Failure;
        outcome.line = succeeded ? line : failed_told_;
        // The copy here when there is one: a hook can reach it.
        outcome.file = local_path_.empty() ? server_file_ : local_path_;
        outcome.bytes = bytes_;
        outcome.database = settings_.database_name;
        outcome.server = settings_.server_name;
        outcome.started = started_utc_ms_ / 1000;
        outcome.ended = Clock().Read().utc_ms / 1000;
        outcome.verified = verified_;
        OnBackupEnded(settings_, outcome);
    }
    if (OnRunEnded) OnRunEnded();
}

void TBackupRunner::Begin(const TBackupSettings& s, bool backup_run) {
    settings_ = s;
    const ClockReading now = Clock().Read();
    started_ = now.local;
    started_utc_ms_ = now.utc_ms;
    backup_run_ = backup_run;
    server_file_.clear();
    local_path_.clear();
    copy_pending_ = false;
    bytes_.reset();
    failed_line_.clear();
    failed_told_.clear();
    last_line_.clear();
    verified_.reset();
    started_told_ = false;
}

void TBackupRunner::TellStarted() {
    // Once the request is on its way: the due minute's request never shares its moment with
    // the alerts' first work (a thread, a library loaded).
    if (!backup_run_ || started_told_) return;
    started_told_ = true;
    if (OnBackupStarted) OnBackupStarted(settings_);
}

void TBackupRunner::Fill(const TBackupSettings& s, const std::string& backup_file) {
    service_.Params().Clear();
    service_.Params().Add("user_name=" + s.user_name);
    service_.Params().Add("password=" + s.password);
    service_.SetDatabaseName(s.database_name);
    service_.SetServerName(s.server_name);
    service_.BackupFile().Clear();
    service_.BackupFile().Add(backup_file);
    TProtocol protocol;
    if (ProtocolOfIndex(s.protocol, &protocol)) service_.SetProtocol(protocol);
}

void TBackupRunner::Run(const TBackupSettings& s, const std::string& tick_time) {
    if (Busy()) {
        // One run at a time (a backup and its verification): a new one would pile onto the old,
        // or write the same file.
        Line("前次備份尚未結束", TLinePriority::Warning);
        return;
    }
    Begin(s, true);
    const std::string name =
        BackupName(s.naming_mode, s.time_mode, s.date_mode, s.backup_name, tick_time, started_);
    const std::string path = BackupPath(s.backup_dir, name);
    if (!Trim(s.local_dir).empty()) {
        local_path_ = LocalCopyPath(s.local_dir, name);
        copy_pending_ = true;
    }
    // The failure line, then its reason on a line of its own at the same priority: one
    // report of two lines (the window shows them as one notification).
    auto failed = [this](const std::string& database, const std::string& reason) {
        const std::string line = "資料庫 " + database + " 服務啟動失敗";
        Line(reason.empty() ? line : line + "\n" + SingleLine(reason), TLinePriority::Failure);
        StepEnded(line, false, reason.empty() ? line : line + ":" + SingleLine(reason));
    };
    // Only the copy here: the server writes nothing of its own.
    if (Trim(s.backup_dir).empty() && copy_pending_) {
        copy_pending_ = false;
        StartStreaming();
        return;
    }
    // The server must never be given a relative name: it would write into its own directory.
    if (const std::string problem = BackupDirProblem(s.backup_dir); !problem.empty()) {
        failed(s.database_name, problem);
        return;
    }
    try {
        // A connection left open by an earlier run or test is closed first. Should that fail,
        // the run fails with its own log line instead of ending the program.
        if (service_.Active()) service_.SetActive(false);
    } catch (const std::exception& e) {
        failed(s.database_name, e.what());
        return;
    }
    try {
        Fill(s, path);
        service_.SetActive(true);  // the attach handler starts the backup
    } catch (const std::exception& e) {
        failed(service_.DatabaseName(), e.what());
    }
}

void TBackupRunner::StartAttached() {
    const std::string backup_file = service_.BackupFile()[0];
    server_file_ = backup_file;
    Line("開始備份" + backup_file, TLinePriority::Info);
    service_.ServiceStart();
    TellStarted();
    Line("備份結束...", TLinePriority::Info);  // accepted; the follower learns how it ends
    Follow(backup_file);
}

template <class Outcome>
void TBackupRunner::Deliver(const Outcome& outcome, void (TBackupRunner::*ended)(const Outcome&)) {
    QMetaObject::invokeMethod(
        context_.get(),
        [this, outcome, ended] {
            try {
                (this->*ended)(outcome);
            } catch (const std::exception&) {
                // a line that cannot be written has nowhere else to go
            }
        },
        Qt::QueuedConnection);
}

void TBackupRunner::Follow(const std::string& backup_file) {
    followed_file_ = backup_file;
    follower_ = std::make_unique<TBackupFollower>(
        service_, [this](const TBackupOutcome& o) { Deliver(o, &TBackupRunner::BackupEnded); },
        follow_poll_ms);
}

void TBackupRunner::BackupEnded(const TBackupOutcome& outcome) {
    if (!follower_) return;
    follower_.reset();
    if (outcome.succeeded) {
        const std::string line = "備份完成" + followed_file_;
        Line(line, TLinePriority::Info);
        // The server restores the file it has just completed by its own path: its success is
        // the proof that the file is whole, and one writer per settings file keeps every other
        // writer away from it meanwhile.
        if (settings_.verify && !closing_)
            StartVerifying({});  // the run ends with the verification's line
        else
            StepEnded(line, true);
        return;
    }
    const std::string line = "備份失敗" + followed_file_ + ":" + OneLine(outcome.message);
    Line(line, TLinePriority::Failure);
    StepEnded(line, false);
}

void TBackupRunner::Verify(const TBackupSettings& s, const std::string& backup_file) {
    if (Busy()) {
        Line("前次備份尚未結束", TLinePriority::Warning);
        return;
    }
    Begin(s, false);
    followed_file_ = backup_file;
    // A file this run did not just complete may be cut short: it is read here and fed to the
    // server, never opened by the server itself (see TVerifyRequest::local_file).
    StartVerifying(backup_file);
}

void TBackupRunner::StartVerifying(const std::string& local_file) {
    TVerifyRequest request;
    // The server as the backup reached it.
    request.server_name = settings_.server_name;
    request.protocol = RunProtocol(settings_);
    request.user = settings_.user_name;
    request.password = settings_.password;
    request.database = settings_.database_name;
    request.backup_file = followed_file_;
    request.local_file = local_file;
    request.scratch_dir = Trim(settings_.verify_dir);
    // A copy here has no directory on the server: the scratch database goes where the server
    // writes its backups, or else beside the database itself.
    if (request.scratch_dir.empty() && local_file == local_path_ && !local_path_.empty()) {
        request.scratch_dir = Trim(settings_.backup_dir);
        if (request.scratch_dir.empty())
            request.scratch_dir = ServerDirectory(settings_.database_name);
    }
    request.settings_id = settings_.settings_id;
    verifier_ = std::make_unique<TBackupVerifier>(
        request, [this](const TVerifyOutcome& o) { Deliver(o, &TBackupRunner::VerifyEnded); });
}

void TBackupRunner::StartStreaming() {
    followed_file_ = local_path_;
    const std::string dir = ParentDirectory(local_path_);
    // A directory it cannot write fails before the server is asked anything.
    if (const std::string problem = LocalDirProblem(dir); !problem.empty()) {
        const std::string line = "備份失敗" + local_path_ + ":" + SingleLine(problem);
        Line(line, TLinePriority::Failure);
        StepEnded(line, false);
        return;
    }
    Line("開始備份" + local_path_, TLinePriority::Info);
    TStreamRequest request;
    request.server_name = settings_.server_name;
    request.protocol = RunProtocol(settings_);
    request.user = settings_.user_name;
    request.password = settings_.password;
    request.database = settings_.database_name;
    request.local_path = local_path_;
    streamer_ = std::make_unique<TBackupStreamer>(
        request, [this](const TStreamOutcome& o) { Deliver(o, &TBackupRunner::StreamEnded); });
    TellStarted();
}

void TBackupRunner::StreamEnded(const TStreamOutcome& outcome) {
    if (!streamer_) return;
    streamer_.reset();
    if (outcome.succeeded) {
        const std::string line = "備份完成" + local_path_;
        Line(line, TLinePriority::Info);
        bytes_ = outcome.bytes;
        // Proven from here: the copy is read on this machine and fed to a restore on the
        // server, so what is proven is the copy itself.
        if (settings_.verify && !closing_)
            StartVerifying(local_path_);
        else
            StepEnded(line, true);
        return;
    }
    const std::string line = "備份失敗" + local_path_ + ":" + OneLine(outcome.message);
    Line(line, TLinePriority::Failure);
    StepEnded(line, false);
}

void TBackupRunner::VerifyEnded(const TVerifyOutcome& outcome) {
    if (!verifier_) return;
    verifier_.reset();
    if (outcome.succeeded) {
        const std::string line = "驗證完成" + followed_file_;
        Line(line, TLinePriority::Info);
        if (!verified_) verified_ = true;
        StepEnded(line, true);
        return;
    }
    const std::string line = "驗證失敗" + followed_file_ + ":" + OneLine(outcome.message);
    Line(line, TLinePriority::Failure);
    verified_ = false;
    StepEnded(line, false);
}

template <class Worker, class Outcome>
void TBackupRunner::EndAtClose(std::unique_ptr<Worker>& worker,
                               void (TBackupRunner::*ended)(const Outcome&),
                               const std::string& still_going, int stop_ms) {
    if (!worker) return;
    if (std::optional<Outcome> outcome = worker->Outcome()) {
        // Ended, but its report has not been handled yet: its line now.
        (this->*ended)(*outcome);
        return;
    }
    Line(still_going, TLinePriority::Info);
    worker->Stop(stop_ms);
    worker.reset();
}

void TBackupRunner::Close() {
    closing_ = true;
    // The program does not wait for a backup: it only closes its attachment, briefly (a stream
    // ends with it, its .part removed and the last copy kept).
    EndAtClose(follower_, &TBackupRunner::BackupEnded, "程式結束時備份仍在進行" + followed_file_,
               kEndingDetachMs);
    EndAtClose(streamer_, &TBackupRunner::StreamEnded, "程式結束時備份仍在進行" + local_path_,
               kEndingDetachMs);
    // A fed restore ends with its connection and its scratch database is dropped (one the
    // server reads itself goes on; the next verification replaces what it leaves).
    EndAtClose(verifier_, &TBackupRunner::VerifyEnded, "程式結束時驗證仍在進行" + followed_file_,
               kEndingVerifyMs);
}

std::vector<std::string> StateLines(const std::optional<TRunReport>& last_run,
                                    const std::optional<LocalTime>& next_due) {
    std::vector<std::string> lines;
    if (last_run)
        lines.push_back("上次備份 " + MinuteText(last_run->started) + " " + last_run->last_line);
    lines.push_back("下次備份 " + (next_due ? MinuteText(*next_due) : std::string("無")));
    return lines;
}

std::string OneLine(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
    return text;
}

std::string SingleLine(const std::string& text) {
    std::string line = OneLine(text);
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    return line;
}

}  // namespace qv
