// Trigger latency: from the start of a due minute to the server's acceptance of the backup
// request, through the real window, timer and client library, against the local test server.
// Outcome latency: from the backup file's last write (its modification time, read as root) to
// the outcome line in the log.
// LEAD_MS: how long before the due minute each round puts the clock; past a minute, the timer
// waits a whole minute for the due one, as it does in steady use (a long wait ends with the
// kernel's timer slack: 0.1 % of it).
//   bench/trigger_bench [minutes [database [lead_ms=1500]]]  (needs scripts/firebird-server.sh
//   start; root)
#include <QApplication>
#include <QElapsedTimer>
#include <sys/stat.h>

#include <algorithm>

#include "BenchEnv.h"
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/desktop/QtApplication.h"
#include "gui/Quorv.h"
#include "platform/InterProcess.h"
#include "platform/NotificationArea.h"

namespace {

// Real time, shifted so that a due minute starts shortly after each round begins.
class ShiftedClock : public qv::IClock {
public:
    qv::ClockReading Read() const override {
        auto now = std::chrono::system_clock::now() + shift;
        time_t secs = std::chrono::system_clock::to_time_t(now);
        tm t{};
        gmtime_r(&secs, &t);
        const int64_t utc_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        const int ms = static_cast<int>(utc_ms % 1000);
        return {{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ms},
                utc_ms};
    }
    // Milliseconds since the start of the current minute.
    int64_t IntoMinute() const {
        qv::LocalTime t = Now();
        return t.second * 1000LL + t.millisecond;
    }
    std::chrono::system_clock::duration shift{};
};

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    auto env = ReadServerEnv();
    if (env["QV_FB_PASSWORD"].empty()) {
        std::fprintf(stderr, "needs the local test server (scripts/firebird-server.sh start)\n");
        return 1;
    }
    qv::QtApplication application;
    qv::SetApplication(&application);
    qv::LinuxInterProcess ipc("/tmp");
    qv::SetInterProcess(&ipc);
    std::unique_ptr<qv::INotificationArea> tray(qv::NewQtNotificationArea());
    qv::SetNotificationArea(tray.get());
    ShiftedClock clock;
    qv::SetClock(&clock);

    qv::TQuorvaneForm form;
    form.FormShow();
    form.Edit1->setText("localhost");
    const std::string database = argc > 2 ? argv[2] : env["QV_FB_SAMPLE_DB"];
    const int lead_ms = argc > 3 ? std::atoi(argv[3]) : 1500;
    form.Edit2->setText(QString::fromStdString(database));
    form.Edit4->setText(QString::fromStdString(env["QV_FB_BACKUP_DIR"]));
    form.SetPassword(env["QV_FB_PASSWORD"]);
    form.ComboBox4->setCurrentIndex(0);  // every 5 minutes...
    form.ComboBox3->setCurrentIndex(1);  // ...into one manual name
    form.Edit5->setText("bench");
    form.StartButton->SetDown(true);

    std::vector<double> latencies, outcome_latencies;
    const std::string gbk = env["QV_FB_BACKUP_DIR"] + "/bench.gbk";
    auto handler = form.IBBackupService1->OnAttach;
    form.IBBackupService1->OnAttach = [&](qv::TIBCustomService* s) {
        handler(s);  // logs, sends the request, hands the attachment to the follower
        latencies.push_back(static_cast<double>(clock.IntoMinute()));
    };
    for (int i = 0; i < rounds; ++i) {
        // Put the clock LEAD_MS before the next due minute and let the timer find it.
        qv::LocalTime t = clock.Now();
        int to_due = (5 - t.minute % 5) * 60000 - (t.second * 1000 + t.millisecond) - lead_ms;
        clock.shift += std::chrono::milliseconds(to_due);
        form.Timer1->SetEnabled(true);
        size_t before = latencies.size();
        QElapsedTimer wait;
        wait.start();
        while (latencies.size() == before && wait.elapsed() < lead_ms + 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // The window hears of the outcome through its message loop.
        while (form.FollowingBackup() && wait.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const auto outcome = std::chrono::system_clock::now();
        struct stat st {};
        if (stat(gbk.c_str(), &st) == 0) {
            const auto written = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec) +
                                 std::chrono::nanoseconds(st.st_mtim.tv_nsec);
            outcome_latencies.push_back(
                std::chrono::duration<double, std::milli>(outcome - written).count());
        }
    }
    std::sort(latencies.begin(), latencies.end());
    std::sort(outcome_latencies.begin(), outcome_latencies.end());
    if (latencies.empty() || outcome_latencies.empty()) return 2;
    std::printf(
        "| outcome latency (ms from the file's last write to the outcome line) | value |\n"
        "|---|---|\n| min | %.0f |\n| median | %.0f |\n| max | %.0f |\n",
        outcome_latencies.front(), outcome_latencies[outcome_latencies.size() / 2],
        outcome_latencies.back());
    std::printf("target <= 1500 ms: %s\n\n", outcome_latencies.back() <= 1500 ? "met" : "missed");
    std::printf(
        "| trigger latency (ms from minute start to accepted request) | value |\n|---|---|\n");
    std::printf("| rounds | %zu |\n| min | %.0f |\n| median | %.0f |\n| max | %.0f |\n",
                latencies.size(), latencies.front(), latencies[latencies.size() / 2],
                latencies.back());
    const double median = latencies[latencies.size() / 2];
    std::printf("target: median <= 50 ms: %s\n", median <= 50 ? "met" : "missed");
    form.StopButton->SetDown(true);
    return 0;
}
