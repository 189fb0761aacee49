// The start-at-logon box over the registry's Run key, and opening the log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FormFixture.h"

namespace qv::test {
namespace {

class LogonBoxTest : public FormFixture {
protected:
    std::string Entry() const { return ReadFile(config / "system/autostart/Quorv.desktop"); }
    bool EntryExists() const {
        return std::filesystem::exists(config / "system/autostart/Quorv.desktop");
    }
};

TEST_F(LogonBoxTest, TickingWritesTheRunValueAndClearingRemovesIt) {
    FakeApp().exe = dir / "renamed-binary";
    TQuorvaneForm& f = Start();
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_FALSE(EntryExists());
    f.CheckBox1->click();
    EXPECT_NE(Entry().find("\nExec=" + dir.path() + "/Quorvane\n"), std::string::npos) << Entry();
    f.CheckBox1->click();
    EXPECT_FALSE(EntryExists());
    EXPECT_TRUE(FakeApp().messages.empty());
}

TEST_F(LogonBoxTest, AStoredValueTicksTheBoxAndIsRewrittenForThisDirectory) {
    std::filesystem::create_directories(config / "system/autostart");
    WriteFile(
        config / "system/autostart/Quorv.desktop",
        "[Desktop Entry]\nExec=/old/place/Quorvane\nX-Quorvane-Run-Value=/old/place/Quorvane\n");
    TQuorvaneForm& f = Start();
    EXPECT_TRUE(f.CheckBox1->isChecked());
    EXPECT_NE(Entry().find("X-Quorvane-Run-Value=" + dir.path() + "/Quorvane\n"),
              std::string::npos);
}

TEST_F(LogonBoxTest, AValueThatCannotBeWrittenPutsTheBoxBack) {
    TQuorvaneForm& f = Start();
    // The machine-wide store and autostart folder cannot be written (as for a normal user).
    std::filesystem::create_directories(config / "system");
    struct Refusing : FileRegistry {
        using FileRegistry::FileRegistry;
        long SetValueEx(HKEY, const std::string&, uint32_t, const std::string&) override {
            return ERROR_ACCESS_DENIED;
        }
        long DeleteValue(HKEY, const std::string&) override { return ERROR_ACCESS_DENIED; }
    } refusing{config / "user", config / "system"};
    SetRegistry(&refusing);
    f.CheckBox1->click();
    EXPECT_FALSE(f.CheckBox1->isChecked());
    ASSERT_EQ(FakeApp().messages.size(), 1u);
    EXPECT_EQ(FakeApp().messages[0].first, "無法設定開機自動載入：沒有寫入權限。");
    EXPECT_TRUE(FakeApp().exceptions.empty());

    SetRegistry(registry.get());
    f.CheckBox1->click();  // written for real this time
    ASSERT_TRUE(EntryExists());
    SetRegistry(&refusing);
    f.CheckBox1->click();
    EXPECT_TRUE(f.CheckBox1->isChecked());  // still in the Run key
    EXPECT_EQ(FakeApp().messages.back().first, "無法取消開機自動載入：沒有寫入權限。");
    // A delete that succeeds while a value stays (the user's entry went, a machine-wide one
    // remains) is no success either.
    struct KeepingMachineWide : FileRegistry {
        using FileRegistry::FileRegistry;
        long DeleteValue(HKEY, const std::string&) override { return ERROR_SUCCESS; }
    } keeping{config / "user", config / "system"};
    SetRegistry(&keeping);
    const size_t before = FakeApp().messages.size();
    f.CheckBox1->click();
    EXPECT_TRUE(f.CheckBox1->isChecked());
    ASSERT_EQ(FakeApp().messages.size(), before + 1);
    EXPECT_EQ(FakeApp().messages.back().first, "無法取消開機自動載入：沒有寫入權限。");
    SetRegistry(registry.get());
}

TEST_F(FormFixture, LogButtonOpensTheLogInTheProgramDirectory) {
    TQuorvaneForm& f = Start();
    f.SpeedButton5->click();
    ASSERT_EQ(launcher.calls.size(), 1u);
    EXPECT_EQ(launcher.calls[0].file, "PROC_LOG.TXT");
    EXPECT_EQ(launcher.calls[0].directory, dir.path());
    EXPECT_EQ(launcher.calls[0].parameters, "");
    EXPECT_EQ(launcher.calls[0].show, 1);
    launcher.result = 2;  // no such file yet: nothing of our own is shown
    f.SpeedButton5->click();
    EXPECT_TRUE(FakeApp().messages.empty());
}

TEST_F(FormFixture, TheGuardIsOnTheWindowWithItsNames) {
    TQuorvaneForm& f = Start(false);
    EXPECT_EQ(f.rasOneInstComp1->Mutex(), "Quorvane");
    EXPECT_EQ(f.rasOneInstComp1->Message(), "Quorvane");
    EXPECT_TRUE(f.rasOneInstComp1->Hooked());
    EXPECT_EQ(f.RegEdit1->RootKey(), TRootKey::HKLM);
}

}  // namespace
}  // namespace qv::test
