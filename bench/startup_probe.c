// Starts two programs one after the other and measures, without polling them:
//  - for each, the time from its start (just before fork) to the first close of its MARKER after
//    a write (inotify: the program's "window is up" line has been written), or, for a MARKER
//    written notify:PATH, to the first datagram holding READY=1 on the socket PATH that the probe
//    binds and hands to the program as NOTIFY_SOCKET (systemd's start-up notification), and the
//    time its threads had been on a CPU by then (/proc/PID/task/*/schedstat: not lengthened by
//    waiting for a CPU that other work holds); the second program starts once the first one's
//    marker is written (or SETTLE_MS have passed);
//  - SETTLE_MS after the second start, the memory of both, read one right after the other from
//    /proc/PID/smaps_rollup, so that both figures see the same other processes sharing their
//    libraries: proportional set size, private dirty, resident, and unique (private clean +
//    private dirty); with SMAPS_COPY1 / SMAPS_COPY2 naming files, copies of /proc/PID/smaps for
//    a per-mapping look;
// then ends both with SIGTERM and waits for them. Prints one line per program, in the order
// given:
//   startup_ms pss_kib private_dirty_kib rss_kib uss_kib cpu_ms
// (startup_ms is -1 when the marker was not written within SETTLE_MS).
//
//   startup_probe SETTLE_MS MARKER1 PROGRAM1 [ARGS...] -- MARKER2 PROGRAM2 [ARGS...]
// A marker's directory must exist; the marker itself should not (the script removes it).
// A notify: marker's socket is made by the probe (an old one at PATH is removed).
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

struct Program {
    char dir[4096], name[4096];
    const char* notify;  // the socket path of a notify: marker, else NULL
    char** argv;
    pid_t pid;
    double startup_ms, cpu_ms;
    long pss, dirty, rss, uss;
};

static double NowMs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static long Field(const char* path, const char* name) {
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    size_t n = strlen(name);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, name, n) == 0 && line[n] == ':') {
            value = strtol(line + n + 1, NULL, 10);
            break;
        }
    fclose(f);
    return value;
}

// Time on a CPU of all the process's threads, in ms.
static double CpuMs(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
    DIR* tasks = opendir(path);
    double ns = 0;
    for (struct dirent* t; tasks && (t = readdir(tasks));) {
        if (t->d_name[0] == '.') continue;
        char stat[300];
        snprintf(stat, sizeof stat, "/proc/%d/task/%s/schedstat", (int)pid, t->d_name);
        FILE* f = fopen(stat, "r");
        unsigned long long run = 0;
        if (f && fscanf(f, "%llu", &run) == 1) ns += (double)run;
        if (f) fclose(f);
    }
    if (tasks) closedir(tasks);
    return ns / 1e6;
}

static void Copy(const char* from, const char* to) {
    FILE* in = fopen(from, "r");
    FILE* out = in ? fopen(to, "w") : NULL;
    char buf[65536];
    size_t n;
    while (out && (n = fread(buf, 1, sizeof buf, in)) > 0) fwrite(buf, 1, n, out);
    if (out) fclose(out);
    if (in) fclose(in);
}

// The notification socket a notify: marker names, bound afresh.
static int NotifySocket(const char* path) {
    struct sockaddr_un addr = {.sun_family = AF_UNIX};
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path);
    unlink(path);
    int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0 || bind(s, (struct sockaddr*)&addr, sizeof addr) < 0) {
        perror("notify socket");
        exit(1);
    }
    return s;
}

// Whether the marker has been reached since the last call: READY=1 among the datagrams read,
// or the marker file among the inotify events.
static int Reached(const struct Program* p, int fd) {
    char buf[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    int reached = 0;
    for (ssize_t len; (len = read(fd, buf, sizeof buf - 1)) > 0;) {
        if (p->notify) {
            buf[len] = 0;
            reached |= strstr(buf, "READY=1") != NULL;
            continue;
        }
        for (char* e = buf; e < buf + len;) {
            const struct inotify_event* ev = (const struct inotify_event*)e;
            if (ev->len && strcmp(ev->name, p->name) == 0) reached = 1;
            e += sizeof *ev + ev->len;
        }
    }
    return reached;
}

// Starts the program and waits for its marker; returns the start time.
static double Start(struct Program* p, double settle_ms) {
    int watch = p->notify ? NotifySocket(p->notify) : inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || (!p->notify && inotify_add_watch(watch, p->dir, IN_CLOSE_WRITE) < 0)) {
        perror("marker");
        exit(1);
    }
    const double t0 = NowMs();
    p->pid = fork();
    if (p->pid == 0) {
        int null = open("/dev/null", O_WRONLY);  // the figures are this program's own output
        if (null >= 0) dup2(null, STDOUT_FILENO);
        if (p->notify) setenv("NOTIFY_SOCKET", p->notify, 1);
        execvp(p->argv[0], p->argv);
        _exit(127);
    }
    p->startup_ms = p->cpu_ms = -1;
    while (p->startup_ms < 0) {
        const double left = t0 + settle_ms - NowMs();
        if (left <= 0) break;
        struct pollfd pfd = {watch, POLLIN, 0};
        if (poll(&pfd, 1, (int)left + 1) <= 0) continue;
        const double at = NowMs();
        if (Reached(p, watch)) {
            p->startup_ms = at - t0;
            p->cpu_ms = CpuMs(p->pid);
        }
    }
    close(watch);
    if (p->notify) unlink(p->notify);
    return t0;
}

static void Measure(struct Program* p, const char* copy) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/smaps_rollup", (int)p->pid);
    p->pss = Field(path, "Pss");
    p->dirty = Field(path, "Private_Dirty");
    p->rss = Field(path, "Rss");
    p->uss = Field(path, "Private_Clean") + p->dirty;
    if (copy && *copy) {
        snprintf(path, sizeof path, "/proc/%d/smaps", (int)p->pid);
        Copy(path, copy);
    }
}

static void Parse(struct Program* p, char** args) {
    p->notify = strncmp(args[0], "notify:", 7) == 0 ? args[0] + 7 : NULL;
    char dir[4096], name[4096];  // dirname and basename may change their argument
    snprintf(dir, sizeof dir, "%s", args[0]);
    snprintf(name, sizeof name, "%s", args[0]);
    snprintf(p->dir, sizeof p->dir, "%s", dirname(dir));
    snprintf(p->name, sizeof p->name, "%s", basename(name));
    p->argv = args + 1;
}

int main(int argc, char** argv) {
    int split = 0;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--") == 0) split = i;
    if (argc < 7 || split < 4 || split > argc - 3) {
        fprintf(stderr,
                "usage: %s SETTLE_MS MARKER1 PROGRAM1 [ARGS...] -- MARKER2 PROGRAM2 [ARGS...]\n",
                argv[0]);
        return 2;
    }
    const double settle_ms = atof(argv[1]);
    argv[split] = NULL;
    static struct Program programs[2];
    Parse(&programs[0], argv + 2);
    Parse(&programs[1], argv + split + 1);

    Start(&programs[0], settle_ms);
    const double t1 = Start(&programs[1], settle_ms);
    const double left = t1 + settle_ms - NowMs();
    if (left > 0) usleep((useconds_t)(left * 1000));
    Measure(&programs[0], getenv("SMAPS_COPY1"));
    Measure(&programs[1], getenv("SMAPS_COPY2"));
    for (int i = 0; i < 2; ++i) kill(programs[i].pid, SIGTERM);
    for (int i = 0; i < 2; ++i) {
        int status;
        while (waitpid(programs[i].pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (int i = 0; i < 2; ++i)
        printf("%.1f %ld %ld %ld %ld %.1f\n", programs[i].startup_ms, programs[i].pss,
               programs[i].dirty, programs[i].rss, programs[i].uss, programs[i].cpu_ms);
    return 0;
}
