#include "components/RasOneInstComp.h"

#include <gtest/gtest.h>

#include "FakeInterProcess.h"
#include "TestSupport.h"

namespace qv {
namespace {

using test::FakeApp;

// One copy of the program: a form that owns the guard, on its own inter-process view.
struct Copy {
    explicit Copy(std::shared_ptr<FakeInterProcess::World> world) : ipc(world) {}
    // The guard lets go of its mutex through its own copy's layer.
    ~Copy() {
        SetInterProcess(&ipc);
        form.reset();
    }
    // Reads a layout like the main window's and returns the guard.
    TrasOneInstComp* Load(bool enabled = true, const char* text = "不能重覆載入",
                          const char* title = "Quorvane") {
        SetInterProcess(&ipc);
        form->BeginLoading();
        guard = new TrasOneInstComp(form.get());
        guard->SetEnabled(enabled);
        guard->SetMessage("Quorvane");
        guard->SetMutex("Quorvane");
        guard->SetText(text);
        guard->SetTitle(title);
        guard->OnAnotherInstance = [this](TrasOneInstComp*) {
            events.push_back("another, after " + std::to_string(FakeApp().messages.size()) +
                             " boxes and " + std::to_string(ipc.broadcasts.size()) + " broadcasts");
        };
        form->EndLoading();
        return guard;
    }
    FakeInterProcess ipc;
    std::unique_ptr<TComponent> form = std::make_unique<TComponent>();
    TrasOneInstComp* guard = nullptr;
    std::vector<std::string> events;
};

class GuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeApp().messages.clear();
        FakeApp().ShowMainForm = true;
        FakeApp().quit_posts = 0;
        FakeApp().minimized = false;
        FakeApp().restore_calls = FakeApp().front_calls = 0;
    }
    void TearDown() override {
        FakeApp().ShowMainForm = true;
        static FakeInterProcess idle;
        SetInterProcess(&idle);
    }
    std::shared_ptr<FakeInterProcess::World> world = std::make_shared<FakeInterProcess::World>();
};

TEST_F(GuardTest, FirstCopyHoldsTheMutexAndHooks) {
    Copy first(world);
    TrasOneInstComp* g = first.Load();
    EXPECT_TRUE(first.ipc.Holds("Quorvane"));
    EXPECT_TRUE(g->Hooked());
    EXPECT_TRUE(FakeApp().messages.empty());
    EXPECT_TRUE(FakeApp().ShowMainForm);
    EXPECT_EQ(FakeApp().quit_posts, 0);
}

TEST_F(GuardTest, SecondCopyTellsTheUserBroadcastsAndQuits) {
    Copy first(world);
    first.Load();
    FakeApp().minimized = true;  // the first copy sits in the notification area
    Copy second(world);
    TrasOneInstComp* g = second.Load();
    ASSERT_EQ(FakeApp().messages.size(), 1u);
    EXPECT_EQ(FakeApp().messages[0],
              (std::pair<std::string, std::string>{"不能重覆載入", "Quorvane"}));
    EXPECT_EQ(second.events, std::vector<std::string>{"another, after 1 boxes and 0 broadcasts"});
    EXPECT_FALSE(FakeApp().ShowMainForm);
    EXPECT_EQ(FakeApp().quit_posts, 1);
    EXPECT_FALSE(g->Hooked());
    EXPECT_EQ(g->MutexHandle(), 0u);
    EXPECT_TRUE(first.ipc.Holds("Quorvane"));
    // The broadcast reaches the first copy only; its hook restores and raises the window.
    ASSERT_EQ(first.ipc.received.size(), 1u);
    EXPECT_TRUE(second.ipc.received.empty());
    AppMessage m{first.ipc.received[0]};
    SetInterProcess(&first.ipc);
    EXPECT_TRUE(FakeApp().DispatchAppMessage(m));
    EXPECT_EQ(FakeApp().restore_calls, 1);
    EXPECT_EQ(FakeApp().front_calls, 1);
    AppMessage other{m.msg + 1};
    EXPECT_FALSE(FakeApp().DispatchAppMessage(other));
}

TEST_F(GuardTest, NoBoxWithoutTextAndTitle) {
    Copy first(world);
    first.Load();
    Copy second(world);
    second.Load(true, "", "");
    EXPECT_TRUE(FakeApp().messages.empty());
    EXPECT_EQ(FakeApp().quit_posts, 1);
    Copy third(world);
    third.Load(true, "", "T");
    ASSERT_EQ(FakeApp().messages.size(), 1u);
    EXPECT_EQ(FakeApp().messages[0], (std::pair<std::string, std::string>{"", "T"}));
}

TEST_F(GuardTest, DisabledInTheLayoutNeitherCreatesNorDetects) {
    Copy first(world);
    first.Load();
    Copy second(world);
    second.Load(false);
    EXPECT_EQ(second.ipc.open_calls + second.ipc.create_calls, 0);
    EXPECT_EQ(FakeApp().quit_posts, 0);
}

TEST_F(GuardTest, EnabledAtRunTimeReleasesAndActivatesAgain) {
    Copy first(world);
    TrasOneInstComp* g = first.Load();
    g->SetEnabled(false);
    EXPECT_FALSE(first.ipc.Holds("Quorvane"));
    EXPECT_FALSE(g->Hooked());
    EXPECT_EQ(first.ipc.released_while_listening, 0);  // stopped listening first
    Copy second(world);
    second.Load();  // runs normally now
    EXPECT_EQ(FakeApp().quit_posts, 0);
    SetInterProcess(&first.ipc);
    g->SetEnabled(true);  // another copy holds it now: this one ends
    EXPECT_EQ(FakeApp().quit_posts, 1);
    EXPECT_EQ(second.ipc.received.size(), 1u);  // and brings that one to the front
}

TEST_F(GuardTest, AtTheEndTheMessageStopsBeforeTheMutexIsReleased) {
    {
        Copy first(world);
        first.Load();
        ASSERT_TRUE(first.ipc.Holds("Quorvane"));
        first.form.reset();
        EXPECT_FALSE(first.ipc.Holds("Quorvane"));
        EXPECT_EQ(first.ipc.released_while_listening, 0);
    }
}

TEST_F(GuardTest, NamesChangeOnlyWhileDesigningOrLoading) {
    Copy c(world);
    TrasOneInstComp* g = c.Load();
    try {
        g->SetMutex("x");
        FAIL();
    } catch (const OneInstCompError& e) {
        EXPECT_STREQ(e.what(), "you can't change Mutex property at runtime!");
    }
    try {
        g->SetMessage("x");
        FAIL();
    } catch (const OneInstCompError& e) {
        EXPECT_STREQ(e.what(), "you can't change Message property at runtime!");
    }
    EXPECT_EQ(g->Mutex(), "Quorvane");
    TrasOneInstComp designed(nullptr);
    designed.SetDesigning(true);
    designed.SetMutex("");
    EXPECT_EQ(designed.Mutex(), ShortDateText() + "-mutex");
    designed.SetMessage("");
    EXPECT_EQ(designed.Message(), ShortDateText() + "-message");
}

TEST_F(GuardTest, DesignModeRegistersNothing) {
    FakeInterProcess ipc(world);
    SetInterProcess(&ipc);
    TComponent form;
    form.SetDesigning(true);
    form.BeginLoading();
    new TrasOneInstComp(&form);
    form.EndLoading();
    EXPECT_EQ(ipc.open_calls + ipc.create_calls, 0);
}

}  // namespace
}  // namespace qv
