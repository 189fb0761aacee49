// quorvaned: Quorvane's schedule without a window, for a database server (systemd or cron).
#include <unistd.h>

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "daemon/Daemon.h"
#include "firebird/IBIntf.h"
#include "platform/InterProcess.h"
#include "platform/Platform.h"
#include "platform/ServiceNotifier.h"
#include "platform/TerminationSignals.h"

namespace {

int Fail(const std::string& problem) {
    std::fprintf(stderr, "quorvaned: %s\n", problem.c_str());
    return 2;
}

// Ends the process once our own work is written; a call still inside the client library
// would hold its clean-up for minutes.
int Leave(int rc) {
    std::fflush(nullptr);
    if (qv::ClientCallsPending()) _exit(rc);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    using qv::TDaemonOptions;
    qv::TDaemonOptions options;
    std::string problem;
    if (!qv::ParseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                &problem))
        return Fail(problem + " (usage: " + qv::kDaemonUsage + ")");
    qv::TDaemonSetup setup;
    if (!qv::PrepareDaemon(options, qv::TDaemonEnvironment::FromProcess(), &setup, &problem))
        return Fail(problem);

    // One instance per settings file; the lock is held until the process ends.
    std::unique_ptr<qv::LinuxInterProcess> guard;
    if (options.mode == TDaemonOptions::Mode::Schedule) {
        guard = std::make_unique<qv::LinuxInterProcess>(setup.lock_dir);
        // Opening takes the lock when nobody holds it; a handle means another copy does.
        if (guard->OpenMutex(qv::InstanceLockName(setup.config)))
            return Fail(setup.config + " is already kept by another quorvaned (lock in " +
                        setup.lock_dir + ")");
    }

    int arg_count = 1;
    QCoreApplication app(arg_count, argv);
    bool stopping = false;
    std::unique_ptr<qv::TBackupDaemon> daemon;
    qv::HandleTerminationSignals(&app,
                                 [&] {
                                     if (stopping) return;
                                     stopping = true;
                                     // A one-shot run's own end is closed after its loop; the
                                     // schedule ends here.
                                     if (daemon && options.mode == TDaemonOptions::Mode::Schedule)
                                         daemon->Stop();
                                     QCoreApplication::quit();
                                 },
                                 {SIGTERM, SIGINT});

    qv::SdServiceNotifier notifier;
    qv::TDaemonLog log(setup.log_dir, stdout,
                       qv::IsJournalStream(std::getenv("JOURNAL_STREAM"), 1));
    try {
        daemon = std::make_unique<qv::TBackupDaemon>(setup, log, notifier);
    } catch (const std::exception& e) {
        return Fail(e.what());  // the client library is missing
    }

    if (options.mode != TDaemonOptions::Mode::Schedule) {
        if (options.mode == TDaemonOptions::Mode::BackupNow)
            daemon->BackupNow();
        else
            daemon->VerifyNow(setup.verify_file);
        while (daemon->Busy() && !stopping)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const bool ok = !stopping && daemon->LastRun() && daemon->LastRun()->succeeded;
        if (stopping) daemon->Runner().Close();
        daemon.reset();
        return Leave(ok ? 0 : 1);
    }

    daemon->Start();
    const int rc = QCoreApplication::exec();
    daemon.reset();
    return Leave(rc);
}
