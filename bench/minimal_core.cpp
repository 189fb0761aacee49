// The program quorvaned's start-up and memory are compared with: the smallest Qt Core program
// that does what quorvaned needs before it is ready, and no more. It loads the client library
// the way our loader does (dlopen, the service entries resolved), arms one one-minute timer,
// tells systemd it is ready and then waits. Nothing of Quorvane's own: no settings, no log, no
// single-instance guard, no schedule.
//
//   minimal_core  (with NOTIFY_SOCKET set, READY=1 is sent once it is set up; SIGTERM ends it)
#include <dlfcn.h>
#include <systemd/sd-daemon.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    void* client = dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!client) {
        std::fprintf(stderr, "minimal_core: %s\n", dlerror());
        return 2;
    }
    for (const char* entry :
         {"isc_service_attach", "isc_service_start", "isc_service_detach", "isc_service_query"})
        if (!dlsym(client, entry)) {
            std::fprintf(stderr, "minimal_core: no %s in the client library\n", entry);
            return 2;
        }
    QTimer tick;
    tick.setInterval(60000);
    QObject::connect(&tick, &QTimer::timeout, [] {});
    tick.start();
    sd_notify(0, "READY=1");
    return QCoreApplication::exec();
}
