#include "platform/TerminationSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace qv {

namespace {
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char c = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &c, 1);
}
}  // namespace

void HandleTerminationSignals(QObject* parent, std::function<void(int signal)> handler,
                              std::initializer_list<int> which) {
    if (g_signal_pipe[0] >= 0) return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [handler] {
        char buf[16];
        const ssize_t n = read(g_signal_pipe[0], buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) handler(buf[i]);
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int signal : which) sigaction(signal, &sa, nullptr);
}

}  // namespace qv
