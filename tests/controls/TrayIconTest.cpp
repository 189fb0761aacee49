#include "controls/TrayIcon.h"

#include <gtest/gtest.h>

#include "FakeApplication.h"
#include "FakeNotificationArea.h"
#include "platform/Platform.h"

namespace qv {
namespace {

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetApplication(&app);
        SetNotificationArea(&area);
    }
    void TearDown() override {
        tray.reset();
        SetApplication(previous_app);
        SetNotificationArea(previous_area);
    }
    TTrayIcon& Make() {
        tray = std::make_unique<TTrayIcon>(nullptr);
        tray->SetActive(true);
        tray->SetHint("Interbase 6 Quorvane");
        tray->SetSeparateIcon(false);
        return *tray;
    }
    IApplication* previous_app = &Application();
    INotificationArea* previous_area = &NotificationArea();
    FakeApplication app;
    FakeNotificationArea area;
    std::unique_ptr<TTrayIcon> tray;
};

TEST_F(TrayTest, TheRecordAtConstruction) {
    TTrayIcon t(nullptr);
    EXPECT_EQ(t.Record().flags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    EXPECT_EQ(t.Record().callback_message, 1025u);
    EXPECT_EQ(t.Record().tip, "Quorvane");  // the application's title until a hint is set
    EXPECT_FALSE(t.Shown());
    EXPECT_TRUE(t.ShellSupport());  // assumed until the icon is first wanted
    EXPECT_TRUE(area.calls.empty());
}

TEST_F(TrayTest, MinimiseShowsTheIconAndRestoreTakesItAway) {
    TTrayIcon& t = Make();
    // Loading while not minimised: Active and SeparateIcon remove, Hint modifies; whether there
    // is a notification area is not asked yet.
    EXPECT_EQ(area.Ops(), (std::vector<std::string>{"delete", "modify", "delete"}));
    EXPECT_EQ(area.questions, 0);
    area.calls.clear();
    app.Minimize();
    EXPECT_EQ(area.questions, 1);
    EXPECT_TRUE(t.Shown());
    EXPECT_FALSE(app.taskbar_button);
    ASSERT_EQ(area.Ops(), std::vector<std::string>{"add"});
    EXPECT_EQ(area.calls[0].record.tip, "Interbase 6 Quorvane");
    t.SetHint("上次備份\n下次備份");  // the tip changes while the icon is shown
    ASSERT_EQ(area.Ops(), (std::vector<std::string>{"add", "modify"}));
    EXPECT_EQ(area.calls[1].record.tip, "上次備份\n下次備份");
    app.Restore();
    EXPECT_FALSE(t.Shown());
    EXPECT_TRUE(app.taskbar_button);
    EXPECT_EQ(area.Ops(), (std::vector<std::string>{"add", "modify", "delete"}));
}

TEST_F(TrayTest, MinimiseAndRestoreEventsComeFromTheApplication) {
    TTrayIcon& t = Make();
    std::vector<std::string> seen;
    t.OnMinimize = [&](IApplication* s) {
        seen.push_back(std::string(s == &app ? "app" : "?") + " min " +
                       std::to_string(t.MinimizedFlag()));
    };
    t.OnRestore = [&](IApplication* s) {
        // The flag is cleared only after the event.
        seen.push_back(std::string(s == &app ? "app" : "?") + " restore " +
                       std::to_string(t.MinimizedFlag()));
    };
    app.Minimize();
    app.Restore();
    EXPECT_EQ(seen, (std::vector<std::string>{"app min 1", "app restore 1"}));
    EXPECT_FALSE(t.MinimizedFlag());
}

TEST_F(TrayTest, ADoubleClickGivesClickDoubleClickClick) {
    TTrayIcon& t = Make();
    std::vector<std::string> seen;
    t.OnClick = [&](TComponent* s) { seen.push_back(s == &t ? "click" : "?"); };
    t.OnDblClick = [&](TComponent*) { seen.push_back("dblclick"); };
    for (uint32_t m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_MOUSEMOVE})
        area.Mouse(m);
    EXPECT_EQ(seen, (std::vector<std::string>{"click", "dblclick", "click"}));
    t.WindowProc(1024, WM_LBUTTONUP);  // another message: not the icon's
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(TrayTest, RightClickMenuOnlyWhenTheWindowIsHidden) {
    TTrayIcon& t = Make();
    std::vector<std::string> seen;
    t.PopupMenu = [&](int x, int y) {
        seen.push_back("menu " + std::to_string(x) + "," + std::to_string(y));
    };
    t.OnRightClick = [&](TComponent*, TMouseButton b, int shift, int x, int y) {
        seen.push_back("right " + std::to_string(b == TMouseButton::mbRight) + " " +
                       std::to_string(shift) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    area.Mouse(WM_RBUTTONUP);  // window visible, no separate icon: no menu
    app.taskbar_button = false;
    area.Mouse(WM_RBUTTONUP);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"right 1 0 900,700", "menu 900,700", "right 1 0 900,700"}));
}

TEST_F(TrayTest, HintIsCutOnACharacterAndEmptyClearsTheTip) {
    TTrayIcon& t = Make();
    area.calls.clear();
    t.SetHint("Interbase 6 Quorvane");  // unchanged: nothing sent
    EXPECT_TRUE(area.calls.empty());
    const size_t room = TTrayIcon::kMaxTipBytes;
    const std::string long_hint = std::string(room - 2, 'x') + "備份";  // 2 bytes short of 備
    t.SetHint(long_hint);
    EXPECT_EQ(t.Hint(), long_hint);
    EXPECT_EQ(t.Record().tip, std::string(room - 2, 'x'));  // the cut character is left out whole
    t.SetHint("");
    EXPECT_EQ(t.Record().flags & NIF_TIP, 0u);
    EXPECT_EQ(area.Ops(), (std::vector<std::string>{"modify", "modify"}));
}

TEST_F(TrayTest, WithoutANotificationAreaTheWindowStaysReachable) {
    area.available = false;
    TTrayIcon& t = Make();
    area.calls.clear();
    app.Minimize();
    EXPECT_FALSE(t.Shown());
    EXPECT_FALSE(t.ShellSupport());
    EXPECT_TRUE(app.taskbar_button);  // minimised to the taskbar instead
    EXPECT_TRUE(area.calls.empty());
    app.Restore();
    area.available = true;  // a host started later is used at the next minimise
    app.Minimize();
    EXPECT_TRUE(t.Shown());
}

TEST_F(TrayTest, AnIconThatCannotBeAddedIsReportedAndTheWindowStaysReachable) {
    TTrayIcon& t = Make();
    area.add_succeeds = false;
    app.Minimize();
    ASSERT_EQ(app.exceptions.size(), 1u);
    EXPECT_EQ(app.exceptions[0], "Cannot create shell notification icon");
    EXPECT_TRUE(app.taskbar_button);
    EXPECT_FALSE(t.Shown());
    area.add_succeeds = true;
    app.Restore();
    app.Minimize();  // tried again
    EXPECT_TRUE(t.Shown());
}

TEST_F(TrayTest, SeparateIconStaysWhileRestored) {
    TTrayIcon& t = Make();
    t.SetSeparateIcon(true);
    EXPECT_TRUE(t.Shown());
    app.Minimize();
    app.Restore();
    EXPECT_TRUE(t.Shown());
    t.SetSeparateIcon(false);
    EXPECT_FALSE(t.Shown());
    t.SetActive(false);
    app.Minimize();
    EXPECT_FALSE(t.Shown());
    EXPECT_TRUE(app.taskbar_button);  // inactive: the taskbar button is left alone
}

}  // namespace
}  // namespace qv
