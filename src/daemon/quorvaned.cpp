// quorvaned: Quorvane's schedule without a window, for a database server (systemd or cron).
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "daemon/Daemon.h"
#include "firebird/IBIntf.h"
#include "platform/FileLock.h"
#include "platform/ServiceNotifier.h"
#include "platform/TerminationSignals.h"

namespace {

// How long a one-shot run waits for its pings and hook after the run (a ping's retries alone
// may take a minute: the rest is dropped, the run's code stands).
constexpr int kAlertsWaitMs = 15000;
// How long a stopping service waits for the pings and hook of a run that ended just before the
// stop (a restart right after a failure must not swallow its /fail): well within the unit's
// stop time.
constexpr int kStopAlertsWaitMs = 3000;

// A fatal start-up problem: one line on stderr, at the journal's err priority when stderr is
// the journal's stream, so that `journalctl -p err` lists it.
int Fail(const std::string& problem) {
    const bool journal = qv::IsJournalStream(std::getenv("JOURNAL_STREAM"), 2);
    std::fprintf(stderr, "%squorvaned: %s\n", journal ? "<3>" : "", problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using Mode = qv::TDaemonOptions::Mode;
    qv::TDaemonOptions options;
    std::string problem;
    if (!qv::ParseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                &problem))
        return Fail(problem + " (usage: " + qv::kDaemonUsage + ")");
    if (options.mode == Mode::Help || options.mode == Mode::Version) {
        std::fputs(options.mode == Mode::Help ? qv::DaemonHelp().c_str()
                                              : "quorvaned " QUORVANE_VERSION "\n",
                   stdout);
        return 0;
    }
    const qv::TDaemonEnvironment env = qv::TDaemonEnvironment::FromProcess();
    qv::TDaemonSetup setup;
    if (!qv::PrepareDaemon(options, env, &setup, &problem)) return Fail(problem);

    // One writer per settings file, held until the process ends: taken before anything is
    // written, so a second copy (by hand, as root) leaves no trace.
    qv::TFileLock lock;
    if (options.mode != Mode::Verify && !lock.Acquire(setup.config, &problem))
        return Fail(setup.config + " is kept by another process (" + problem +
                    "): a quorvane@ instance, the window or a backup now; nothing was done");

    int arg_count = 1;
    QCoreApplication app(arg_count, argv);
    bool stopping = false;
    std::unique_ptr<qv::TBackupDaemon> daemon;
    qv::HandleTerminationSignals(&app,
                                 [&](int signal) {
                                     if (signal == SIGHUP) {
                                         if (daemon && options.mode == Mode::Schedule)
                                             daemon->Reload();
                                         return;
                                     }
                                     if (stopping) return;
                                     stopping = true;
                                     // A one-shot run's own end is closed after its loop; the
                                     // schedule ends here.
                                     if (daemon && options.mode == Mode::Schedule) daemon->Stop();
                                     QCoreApplication::quit();
                                 },
                                 {SIGTERM, SIGINT, SIGHUP});

    qv::SdServiceNotifier notifier;
    try {
        daemon = std::make_unique<qv::TBackupDaemon>(
            options, env, setup, lock, stdout,
            qv::IsJournalStream(std::getenv("JOURNAL_STREAM"), 1), notifier);
    } catch (const std::exception& e) {
        return Fail(e.what());  // the client library is missing
    }

    if (options.mode != Mode::Schedule) {
        if (options.mode == Mode::BackupNow)
            daemon->BackupNow();
        else
            daemon->VerifyNow(setup.verify_file);
        while (daemon->Busy() && !stopping)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // A cron job or timer is heard of too: its pings and hook, bounded beyond the run.
        if (!stopping) daemon->Keeper().WaitForAlerts(kAlertsWaitMs);
        const bool ok = !stopping && daemon->LastRun() && daemon->LastRun()->succeeded;
        if (stopping) daemon->Keeper().Runner().Close();
        daemon.reset();
        return qv::LeaveProcess(ok ? 0 : 1);
    }

    daemon->Start();
    const int rc = QCoreApplication::exec();
    daemon->Keeper().WaitForAlerts(kStopAlertsWaitMs);
    daemon.reset();
    return qv::LeaveProcess(rc);
}
