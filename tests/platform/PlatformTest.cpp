#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSessionManager>
#include <QTimer>
#include <QWidget>
#include <ctime>
#include <filesystem>
#include <memory>

#include "platform/Clock.h"
#include "platform/Component.h"
#include "platform/DesktopNotifications.h"
#include "platform/Exception.h"
#include "FakeApplication.h"
#include "FakeClock.h"
#include "platform/FilePlaces.h"
#include "platform/Files.h"
#include "platform/desktop/QtApplication.h"
#include "platform/Strings.h"
#include "platform/Timer.h"
#include "TestSupport.h"

namespace qv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(Strings, ParseInt32) {
    EXPECT_EQ(ParseInt32("42"), 42);
    EXPECT_EQ(ParseInt32("  -7"), -7);
    EXPECT_EQ(ParseInt32("$ff"), 255);
    EXPECT_EQ(ParseInt32("-$10"), -16);
    EXPECT_FALSE(ParseInt32(""));
    EXPECT_FALSE(ParseInt32("-"));
    EXPECT_FALSE(ParseInt32("$"));
    EXPECT_FALSE(ParseInt32("1 "));
    EXPECT_FALSE(ParseInt32("99999999999"));
    EXPECT_THROW(StrToInt("12a"), EConvertError);
    try {
        StrToInt("x");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
    }
}

// The published FNV-1a values: a lock or a scratch database keeps its name across builds.
TEST(Strings, Fnv1aHexDigits) {
    EXPECT_EQ(Fnv1aHex("", 16), "cbf29ce484222325");
    EXPECT_EQ(Fnv1aHex("a", 16), "af63dc4c8601ec8c");
    EXPECT_EQ(Fnv1aHex("a", 8), "af63dc4c");
}

TEST(Strings, CutUtf8NeverSplitsACharacter) {
    EXPECT_EQ(CutUtf8("abc", 5), "abc");
    EXPECT_EQ(CutUtf8("abcdef", 3), "abc");
    EXPECT_EQ(CutUtf8("a中", 2), "a");  // 中 is three bytes
    EXPECT_EQ(CutUtf8("a中", 3), "a");
    EXPECT_EQ(CutUtf8("a中b", 4), "a中");
}

TEST(Clock, DayNumberCountsFromJanuaryFirstOfYearOne) {
    EXPECT_EQ(DayNumber(1, 1, 1), 2);       // a Monday
    EXPECT_EQ(DayNumber(2026, 12, 6), 1);   // Sunday
    EXPECT_EQ(DayNumber(2026, 12, 7), 2);   // Monday
    EXPECT_EQ(DayNumber(2026, 12, 12), 7);  // Saturday
    EXPECT_EQ(DayNumber(2024, 2, 29), 5);   // Thursday
    EXPECT_EQ(DayNumber(2000, 3, 1), 4);    // Wednesday, after a 400-year leap day
    EXPECT_EQ(DayNumber(1900, 3, 1), 5);    // Thursday, 1900 not leap
}

TEST(Clock, NextTickLandsJustPastTheNextMinute) {
    EXPECT_EQ(MsToNextMinute({2026, 1, 1, 10, 0, 0, 0}, 500), 60500);
    EXPECT_EQ(MsToNextMinute({2026, 1, 1, 10, 0, 40, 500}, 500), 20000);
    EXPECT_EQ(MsToNextMinute({2026, 1, 1, 10, 0, 59, 999}, 500), 501);
    EXPECT_EQ(MsToNextMinute({2026, 1, 1, 10, 0, 59, 999}), 1);
    EXPECT_TRUE(SameMinute({2026, 1, 1, 10, 0, 0, 0}, {2026, 1, 1, 10, 0, 59, 999}));
    EXPECT_FALSE(SameMinute({2026, 1, 1, 10, 0, 0, 0}, {2026, 1, 2, 10, 0, 0, 0}));
    EXPECT_FALSE(SameMinute({2026, 1, 1, 10, 0, 0, 0}, {2026, 1, 1, 11, 0, 0, 0}));
}

// Minutes the system clock is ahead of UTC, read within one UTC minute.
int MinutesAheadOfUtc(const SystemClock& clock) {
    for (;;) {
        const time_t before = time(nullptr);
        const LocalTime local = clock.Now();
        const time_t after = time(nullptr);
        if (before / 60 != after / 60) continue;
        tm utc{};
        gmtime_r(&before, &utc);
        return ((local.hour * 60 + local.minute) - (utc.tm_hour * 60 + utc.tm_min) + 1440) % 1440;
    }
}

TEST(Clock, AChangeOfTheZoneIsSeenAtTheNextRead) {
    // TZ naming a link that is then pointed at another zone, as a desktop changes /etc/localtime.
    TempDir dir;
    const std::string link = dir / "localtime";
    ASSERT_TRUE(std::filesystem::exists("/usr/share/zoneinfo/Etc/GMT-3")) << "tzdata is missing";
    std::filesystem::create_symlink("/usr/share/zoneinfo/Etc/GMT-3", link);
    const char* old_tz = std::getenv("TZ");
    const std::string saved = old_tz ? old_tz : "";
    setenv("TZ", (":" + link).c_str(), 1);
    SystemClock clock;
    EXPECT_EQ(MinutesAheadOfUtc(clock), 180);
    std::filesystem::create_symlink("/usr/share/zoneinfo/Etc/GMT+5", dir / "next");
    std::filesystem::rename(dir / "next", link);
    EXPECT_EQ(MinutesAheadOfUtc(clock), 1440 - 300);
    std::filesystem::create_symlink("/usr/share/zoneinfo/Etc/GMT-3", dir / "next");
    std::filesystem::rename(dir / "next", link);
    EXPECT_EQ(MinutesAheadOfUtc(clock), 180);
    old_tz ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

TEST(Timer, AnEarlyWakeSleepsAgainInsteadOfTicking) {
    TTimer timer(nullptr);
    int asked = 0, ticks = 0, asked_before_tick = 0;
    timer.NextDelay = [] { return 1; };
    timer.EarlyBy = [&] { return ++asked < 3 ? 5 : 0; };  // two early wakes, then due
    timer.OnTimer = [&] {
        if (ticks++ == 0) asked_before_tick = asked;
    };
    timer.SetInterval(60000);  // armed with NextDelay
    QElapsedTimer waited;
    waited.start();
    while (ticks == 0 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    timer.SetEnabled(false);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(asked_before_tick, 3);
}

TEST(FakeClockTest, AdvancesAcrossMonthAndYear) {
    FakeClock c;
    c.Set(2026, 12, 31, 23, 59, 59, 900);
    c.Advance(200);
    EXPECT_EQ(c.Now(), (LocalTime{2027, 1, 1, 0, 0, 0, 100}));
    c.Advance(-200);
    EXPECT_EQ(c.Now(), (LocalTime{2026, 12, 31, 23, 59, 59, 900}));
}

struct Probe : TComponent {
    Probe(TComponent* owner, std::vector<std::string>* log, std::string name)
        : TComponent(owner), log_(log) {
        SetName(std::move(name));
        log_->push_back(Name() + (Loading() ? " created while loading" : " created"));
    }
    ~Probe() override { log_->push_back(Name() + " freed"); }
    void Loaded() override { log_->push_back(Name() + " loaded"); }
    std::vector<std::string>* log_;
};

TEST(Component, LoadedRunsInLayoutOrderAfterTheWholeLayout) {
    std::vector<std::string> log;
    {
        Probe form(nullptr, &log, "form");
        form.BeginLoading();
        new Probe(&form, &log, "a");
        new Probe(&form, &log, "b");
        EXPECT_TRUE(form.Components()[1]->Loading());
        form.EndLoading();
        EXPECT_FALSE(form.Components()[1]->Loading());
    }
    EXPECT_EQ(log, (std::vector<std::string>{"form created", "a created while loading",
                                             "b created while loading", "a loaded", "b loaded",
                                             "form loaded", "form freed", "b freed", "a freed"}));
}

// A window that counts how often it is closed.
struct ClosingWindow : QWidget {
    int closes = 0;
    void closeEvent(QCloseEvent* event) override {
        ++closes;
        event->accept();
    }
};

TEST(Application, TheWindowClosesWhenTheSessionEndsNotWhenItIsAskedToSave) {
    QtApplication app;
    ClosingWindow window;
    app.SetMainWindow(&window);
    app.CloseOnTerminationSignals();
    auto* gui = static_cast<QGuiApplication*>(QCoreApplication::instance());
    // A second copy quits without ever showing its window: nothing to close.
    QTimer::singleShot(0, gui, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_EQ(window.closes, 0);
    window.show();
    // The session manager asks for the data first; the user may still cancel the logout.
    alignas(QSessionManager) unsigned char session[sizeof(QSessionManager)] = {};
    emit gui->commitDataRequest(*reinterpret_cast<QSessionManager*>(session));
    QCoreApplication::processEvents();
    EXPECT_EQ(window.closes, 0);
    // The session's end ends the message loop: the window closes on its way out.
    QTimer::singleShot(0, gui, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_EQ(window.closes, 1);
}

TEST(DesktopNotifications, AServiceTheBusStartsOnDemandGetsTheMessage) {
    // A private session bus on which the notification service is activatable, not running.
    TempDir dir;
    const std::string notes = dir / "notes", services = dir / "services";
    std::filesystem::create_directory(services);
    WriteFile(dir / "standin.sh", "#!/bin/sh\necho $$ >'" + dir / "standin.pid" +
                                      "'\nexec /usr/bin/python3 '" QV_SOURCE_DIR
                                      "/tests/gui/sni_watcher.py' >'" +
                                      notes + "' 2>&1\n");
    chmod((dir / "standin.sh").c_str(), 0755);
    WriteFile(
        services + "/org.freedesktop.Notifications.service",
        "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=" + dir / "standin.sh" + "\n");
    WriteFile(dir / "bus.conf",
              "<busconfig><type>session</type><listen>unix:path=" + dir / "bus" +
                  "</listen><servicedir>" + services +
                  "</servicedir><auth>EXTERNAL</auth><policy context=\"default\">"
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/></policy></busconfig>");
    const pid_t bus = fork();
    if (bus == 0) {
        execlp("dbus-daemon", "dbus-daemon", "--nofork", "--nopidfile",
               ("--config-file=" + dir / "bus.conf").c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 100 && !std::filesystem::exists(dir / "bus"); ++i) usleep(50000);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir / "bus").c_str(), 1);
    std::unique_ptr<IDesktopNotifications> desktop(NewDBusDesktopNotifications());
    EXPECT_TRUE(desktop->Notify("Quorvane", "備份失敗/b/1.gbk:gone"));
    bool shown = false;
    for (int i = 0; i < 200 && !shown; ++i, usleep(50000))
        shown =
            ReadFile(notes).find("NOTIFY Quorvane | 備份失敗/b/1.gbk:gone") != std::string::npos;
    EXPECT_TRUE(shown) << ReadFile(notes);
    const std::string standin = ReadFile(dir / "standin.pid");
    if (!standin.empty()) kill(std::stoi(standin), SIGTERM);
    kill(bus, SIGTERM);
    waitpid(bus, nullptr, 0);
}

TEST(Application, TitleIsTheFileNameUpToItsFirstDot) {
    FakeApplication app;
    app.exe = "/opt/x/QUORVANE.EXE";
    EXPECT_EQ(app.Title(), "Quorvane");
    app.exe = "/usr/bin/Quorvane";
    EXPECT_EQ(app.Title(), "Quorvane");
    app.exe = "/a.b/my.prog.bin";
    EXPECT_EQ(app.Title(), "my");
}

TEST(Application, HooksSeeMessagesUntilOneConsumesThem) {
    FakeApplication app;
    std::vector<int> seen;
    int first = app.HookMainWindow([&](AppMessage& m) {
        seen.push_back(1);
        return m.msg == 7;
    });
    app.HookMainWindow([&](AppMessage&) {
        seen.push_back(2);
        return false;
    });
    AppMessage m{7};
    EXPECT_TRUE(app.DispatchAppMessage(m));
    m.msg = 8;
    EXPECT_FALSE(app.DispatchAppMessage(m));
    app.UnhookMainWindow(first);
    EXPECT_FALSE(app.DispatchAppMessage(m));
    EXPECT_EQ(seen, (std::vector<int>{1, 1, 2, 2}));
}

TEST(Application, MinimizeAndRestoreRaiseTheirEventsOnce) {
    FakeApplication app;
    int mins = 0, restores = 0;
    app.OnMinimize = [&] { ++mins; };
    app.OnRestore = [&] { ++restores; };
    app.Minimize();
    app.Minimize();
    app.Restore();
    EXPECT_EQ(mins, 1);
    EXPECT_EQ(restores, 1);
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The service compares backup directories with its own normal form: the library's is the judge.
TEST(Files, LexicallyNormalGivesTheLibrarysFormOfSlashPaths) {
    const char* const paths[] = {"",
                                 ".",
                                 "./",
                                 "..",
                                 "../",
                                 "/",
                                 "///bak",
                                 "/bak",
                                 "/bak/",
                                 "/bak//",
                                 "/bak/.",
                                 "/bak/./",
                                 "/x/../bak",
                                 "/x/..",
                                 "/x/../",
                                 "/..",
                                 "/../..",
                                 "/../bak",
                                 "a//b/./c",
                                 "a/..",
                                 "a/../",
                                 "a/b/..",
                                 "a/b/../..",
                                 "../a/..",
                                 "../../a",
                                 "a/../../b",
                                 "./a/.",
                                 "/a/b/../../c/",
                                 "/a/./b/.././c//",
                                 ".../x",
                                 "/x/.hidden/..",
                                 "a/.//",
                                 "x/../../",
                                 "//a//..//",
                                 "C:\\bak\\"};
    for (const std::string path : paths)
        EXPECT_EQ(LexicallyNormal(path), std::filesystem::path(path).lexically_normal().string())
            << "\"" << path << "\"";
}

TEST(FilePlaces, AWritableProgramDirectoryKeepsEverythingBesideTheProgram) {
    test::TempDir t;
    XdgEnvironment env{t / "home", t / "config", t / "state", ""};
    mkdir((t / "app").c_str(), 0755);
    FilePlaces p = FilePlaces::Decide(t / "app/", t / "installed", env);
    EXPECT_FALSE(p.per_user);
    EXPECT_EQ(p.settings_file, t / "app/Quorvane.ini");
    EXPECT_EQ(p.settings_source, p.settings_file);
    EXPECT_EQ(p.log_dir, t / "app/");
    EXPECT_FALSE(FileExists(t / "config"));
}

TEST(FilePlaces, TheInstalledProgramUsesTheUsersDirectoriesAndTheAdministratorsDefaults) {
    test::TempDir t;
    mkdir((t / "lib").c_str(), 0755);
    mkdir((t / "xdg2").c_str(), 0755);
    mkdir((t / "xdg2/quorvane").c_str(), 0755);
    test::WriteFile(t / "xdg2/quorvane/Quorvane.ini", "[Para]\r\n");
    // Relative entries are ignored; the first directory that has the file counts.
    XdgEnvironment env{t / "home", "", t / "deep/state", "relative:" + t / "xdg1:" + t / "xdg2"};
    FilePlaces p = FilePlaces::Decide(t / "lib", t / "lib/", env);  // writable, yet installed
    EXPECT_TRUE(p.per_user);
    EXPECT_EQ(p.settings_file, t / "home/.config/quorvane/Quorvane.ini");
    EXPECT_EQ(p.settings_source, t / "xdg2/quorvane/Quorvane.ini");
    EXPECT_EQ(p.log_dir, t / "deep/state/quorvane/");
    for (const char* d : {"home", "home/.config", "home/.config/quorvane", "deep", "deep/state",
                          "deep/state/quorvane"})
        EXPECT_EQ(ModeOf(t / d), 0700u) << d;
    EXPECT_TRUE(p.SettingsWritable() && p.LogWritable());
    // Once the user has a file of their own, it is the one read.
    test::WriteFile(p.settings_file, "");
    EXPECT_EQ(FilePlaces::Decide(t / "lib", t / "lib", env).settings_source, p.settings_file);
}

TEST(FilePlaces, DirectoriesRootMakesInAUsersHomeAreTheUsers) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a directory away (CI runs as root)";
    test::TempDir t;
    mkdir((t / "home").c_str(), 0700);
    ASSERT_EQ(chown((t / "home").c_str(), test::kOtherUid, test::kOtherGid), 0);
    mkdir((t / "lib").c_str(), 0755);
    FilePlaces::Decide(t / "lib", t / "lib", XdgEnvironment{t / "home", "", "", ""});
    for (const char* d : {"home/.config", "home/.config/quorvane", "home/.local",
                          "home/.local/state", "home/.local/state/quorvane"}) {
        struct stat st {};
        ASSERT_EQ(stat((t / d).c_str(), &st), 0) << d;
        EXPECT_EQ(st.st_uid, test::kOtherUid) << d;
        EXPECT_EQ(st.st_gid, test::kOtherGid) << d;
    }
}

TEST(FilePlaces, UserDirectoriesThatCannotBeMadeAreNotWritable) {
    test::TempDir t;
    test::WriteFile(t / "file", "");
    XdgEnvironment env{t / "file", "", "", ""};
    FilePlaces p = FilePlaces::Decide(t / "missing", t / "lib", env);  // cannot be written
    EXPECT_TRUE(p.per_user);
    EXPECT_EQ(p.SettingsDir(), t / "file/.config/quorvane");
    EXPECT_EQ(p.LogDir(), t / "file/.local/state/quorvane");
    EXPECT_FALSE(p.SettingsWritable());
    EXPECT_FALSE(p.LogWritable());
}

}  // namespace
}  // namespace qv
