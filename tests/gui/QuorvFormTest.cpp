#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "FakeProfileFiles.h"
#include "FormFixture.h"

namespace qv::test {
namespace {

using Msgs = std::vector<std::string>;

TEST_F(FormFixture, FirstStartWithoutSettingsFile) {
    TQuorvaneForm& f = Start();
    EXPECT_EQ(f.AppDir(), dir.path() + "/");
    for (QLineEdit* e : {f.Edit1, f.Edit2, f.Edit3, f.Edit4, f.Edit5}) EXPECT_EQ(e->text(), "");
    EXPECT_EQ(f.UserName(), "SYSDBA");
    EXPECT_EQ(f.Password(), "tidewater");
    EXPECT_EQ(f.MaskEdit1->Text(), "0000");
    EXPECT_EQ(f.ComboBox1->currentIndex(), 3);
    EXPECT_EQ(f.ComboBox2->currentIndex(), 0);
    EXPECT_EQ(f.ComboBox3->currentIndex(), 0);
    EXPECT_EQ(f.ComboBox4->currentIndex(), 0);
    EXPECT_TRUE(f.StartButton->Down());
    EXPECT_FALSE(f.StopButton->Down());
    EXPECT_FALSE(f.Timer2->Enabled());  // stays on screen
    EXPECT_EQ(LogLines(), Msgs{"20261207.143005:程式執行"});
    EXPECT_FALSE(std::filesystem::exists(dir / "Quorvane.ini"));  // nothing saved yet

    clock.Set(2026, 12, 7, 14, 31, 0, 0);
    f.FormClose();
    EXPECT_EQ(
        Ini(),
        "[Para]\r\nSERVERNAME=\r\nDATABASENAME=\r\nUSERNAME=SYSDBA\r\nPASSWORD=tidewater\r\n"
        "LOGNAME=\r\nBACKUPTIME=0000\r\nBACKUPDIR=\r\nLOCALDIR=\r\nBACKUPNAME=\r\nPROTOCAL=3\r\n"
        "BACKUPMODE=0\r\nNAMETYPE=0\r\nTIMEMODE=0\r\nVERIFY=0\r\n");
    EXPECT_EQ(LogLines(), (Msgs{"20261207.143005:程式執行", "20261207.143100:系統結束"}));
    EXPECT_TRUE(FakeApp().messages.empty());
}

TEST_F(FormFixture, LogLineLayoutDropsTheMilliseconds) {
    clock.Set(2027, 2, 1, 9, 5, 3, 7);
    Start();
    EXPECT_EQ(LogLines(), Msgs{"20270201.090503:程式執行"});
}

TEST_F(FormFixture, SettingsAreLoadedIntoTheControls) {
    WriteIni(
        "SERVERNAME=db1\r\nDATABASENAME=/data/x.fdb\r\nUSERNAME=\r\nPASSWORD=p w\r\n"
        "LOGNAME=/logs\r\nBACKUPTIME=0830\r\nBACKUPDIR=/bak\r\nBACKUPNAME=\"manual \"\r\n"
        "PROTOCAL=0\r\nBACKUPMODE=2\r\nNAMETYPE=1\r\nTIMEMODE=7\r\nVERIFY=1\r\n"
        "VERIFYDIR=/scratch\r\nLOCALDIR=/home/admin/copies\r\nPINGURL=https://hc/abc\r\n");
    TQuorvaneForm& f = Start();
    EXPECT_EQ(f.Edit6->text(), "/home/admin/copies");
    EXPECT_EQ(f.CurrentSettings().local_dir, "/home/admin/copies");
    EXPECT_EQ(f.CurrentSettings().ping_url, "https://hc/abc");
    EXPECT_EQ(f.Edit1->text(), "db1");
    EXPECT_TRUE(f.CheckBox2->isChecked());
    EXPECT_EQ(f.CurrentSettings().verify_dir, "/scratch");
    EXPECT_FALSE(f.Edit1->isVisibleTo(&f));  // Local hides the server name but keeps it
    EXPECT_EQ(f.Edit2->text(), "/data/x.fdb");
    EXPECT_EQ(f.UserName(), "");  // present and empty: not the default
    EXPECT_EQ(f.Password(), "p w");
    EXPECT_EQ(f.Edit3->text(), "/logs");
    EXPECT_EQ(f.MaskEdit1->Text(), "0830");
    EXPECT_TRUE(f.MaskEdit1->isVisibleTo(&f));
    EXPECT_EQ(f.Edit5->text(), "manual ");
    EXPECT_TRUE(f.Edit5->isVisibleTo(&f));
    EXPECT_EQ(f.ComboBox2->currentIndex(), 2);
    EXPECT_TRUE(f.Timer2->Enabled());  // both set: minimises a second later
    f.Timer2Timer();
    EXPECT_EQ(FakeApp().minimize_calls, 1);
    EXPECT_FALSE(f.Timer2->Enabled());
    const std::string before = Ini();
    f.FormClose();
    EXPECT_EQ(Ini(), before);  // every value saved back unchanged
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統結束"}));
}

TEST_F(FormFixture, ClosingWritesEveryKeyWithOneWriteOfTheFile) {
    FakeProfileFiles files;
    SetProfileFiles(&files);
    const std::string ini = dir / "Quorvane.ini";
    files.files[ini] = "; by hand\n[Para]\nTIMEMODE=7\nBACKUPTIME=0830\n[Other]\nX=1\n";
    Start();
    form->FormClose();
    EXPECT_EQ(files.writes, 1);
    EXPECT_EQ(files.files[ini],
              "; by hand\n[Para]\nTIMEMODE=7\r\nBACKUPTIME=0830\r\nSERVERNAME=\r\nDATABASENAME=\r\n"
              "USERNAME=SYSDBA\r\nPASSWORD=tidewater\r\nLOGNAME=\r\nBACKUPDIR=\r\nLOCALDIR=\r\n"
              "BACKUPNAME=\r\n"
              "PROTOCAL=3\r\nBACKUPMODE=0\r\nNAMETYPE=0\r\nVERIFY=0\r\n[Other]\nX=1\n");
    SetProfileFiles(nullptr);
}

TEST_F(FormFixture, ASettingsFileKeptByAnotherProgramIsLeftAloneAndKeptThroughSaves) {
    const std::string ini = dir / "Quorvane.ini";
    WriteIni("TIMEMODE=3\r\n");
    TFileLock service;  // a quorvaned keeping the same file
    std::string why;
    ASSERT_TRUE(service.Acquire(ini, &why));
    const int quits = FakeApp().quit_posts;
    Start();
    ASSERT_EQ(FakeApp().messages.size(), 1u);
    EXPECT_EQ(FakeApp().messages[0].first, "設定檔 " + ini + " 已由另一個程式使用中，本程式結束。");
    EXPECT_EQ(FakeApp().quit_posts, quits + 1);
    form.reset();
    EXPECT_EQ(Ini(), "[Para]\r\nTIMEMODE=3\r\n");  // nothing saved, nothing logged
    EXPECT_TRUE(LogLines().empty());
    service.Release();

    // The window's own hold survives its atomic save: the new file is held as the old was.
    Start();
    form->FormClose();
    EXPECT_NE(Ini().find("TIMEMODE=3\r\nSERVERNAME="), std::string::npos);
    TFileLock another;
    EXPECT_FALSE(another.Acquire(ini, &why));
    form.reset();
    EXPECT_TRUE(another.Acquire(ini, &why));
}

TEST_F(FormFixture, BadAndOutOfRangeIndexes) {
    WriteIni("PROTOCAL=abc\r\nBACKUPMODE=9\r\nNAMETYPE=-1\r\nTIMEMODE=0x7\r\n");
    TQuorvaneForm& f = Start();
    EXPECT_EQ(f.ComboBox1->currentIndex(), 3);   // not a number: the default
    EXPECT_EQ(f.ComboBox2->currentIndex(), -1);  // outside the list: no selection
    EXPECT_EQ(f.ComboBox3->currentIndex(), -1);
    EXPECT_EQ(f.ComboBox4->currentIndex(), 7);
    f.FormClose();
    EXPECT_NE(Ini().find("PROTOCAL=3\r\nBACKUPMODE=-1\r\nNAMETYPE=-1\r\nTIMEMODE=7\r\n"),
              std::string::npos);
}

TEST_F(FormFixture, BlankBackupDirectoryKeepsTheWindowOnScreen) {
    WriteIni("DATABASENAME=/data/x.fdb\r\nBACKUPDIR=\"   \"\r\n");
    TQuorvaneForm& f = Start();
    EXPECT_FALSE(f.Timer2->Enabled());
}

TEST_F(FormFixture, EditWhileArmedStopsOnceAndEdit5DoesNot) {
    TQuorvaneForm& f = Start();
    f.Edit5->setText("manual");
    f.CheckBox2->click();  // verification on: the schedule goes on
    EXPECT_TRUE(f.CurrentSettings().verify);
    EXPECT_TRUE(f.StartButton->Down());
    f.Edit2->setText("/other.fdb");
    EXPECT_TRUE(f.StopButton->Down());
    EXPECT_FALSE(f.StartButton->Down());
    f.Edit2->setText("/third.fdb");
    f.MaskEdit1->SetText("1200");
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統停止"}));
    EXPECT_FALSE(std::filesystem::exists(dir / "Quorvane.ini"));  // not saved by an edit
}

TEST_F(FormFixture, ListChangesWhileArmed) {
    TQuorvaneForm& f = Start();
    SelectUser(f.ComboBox4, 7);
    EXPECT_TRUE(f.StopButton->Down());
    EXPECT_TRUE(f.MaskEdit1->isVisibleTo(&f));
    SelectUser(f.ComboBox4, 2);
    EXPECT_FALSE(f.MaskEdit1->isVisibleTo(&f));
    f.StartButton->click();
    SelectUser(f.ComboBox2, 1);
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統停止", "系統啟動", "系統停止"}));
}

TEST_F(FormFixture, SpeedButtonGroupRunsHandlersAgainWhenAlreadyDown) {
    TQuorvaneForm& f = Start();
    f.StartButton->click();
    f.StartButton->click();
    EXPECT_TRUE(f.StartButton->Down());
    f.StopButton->click();
    f.StopButton->click();
    EXPECT_TRUE(f.StopButton->Down());
    EXPECT_FALSE(f.StartButton->Down());
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統啟動", "系統啟動", "系統停止", "系統停止"}));
    EXPECT_NE(Ini().find("TIMEMODE=0"), std::string::npos);
}

TEST_F(FormFixture, SpecificTimeTypedWithABlankHourDigitIsSavedAsThreeCharacters) {
    TQuorvaneForm& f = Start();
    f.MaskEdit1->setText(" 8:30");
    EXPECT_EQ(f.MaskEdit1->Text(), "830");
    f.FormClose();
    EXPECT_NE(Ini().find("BACKUPTIME=830\r\n"), std::string::npos);
}

class CountingForm : public TQuorvaneForm {
public:
    std::vector<std::string> runs;
    void DataBackup() override { runs.push_back(TickTime()); }
};

// The buttons arm and stop the engine's schedule, which calls back for a due minute's run:
// stopped, a due minute runs nothing, and the minutes while stopped are never missed.
TEST_F(FormFixture, TheButtonsArmAndStopTheSchedule) {
    auto* f = new CountingForm;
    form.reset(f);
    f->FormShow();
    f->StopButton->click();
    clock.Set(2026, 12, 7, 16, 0, 0, 500);
    f->Timer1Timer();
    EXPECT_TRUE(f->runs.empty());
    f->StartButton->click();
    f->Timer1Timer();
    EXPECT_EQ(f->runs, Msgs{"1600"});
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統停止", "系統啟動", "備份條件符合"}));
}

}  // namespace
}  // namespace qv::test

namespace qv::test {
namespace {

// The user's XDG directories for one test, restored afterwards.
class UserDirs {
public:
    UserDirs(const std::string& config, const std::string& state) {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    ~UserDirs() {
        for (const auto& [name, value] : saved_)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(FormFixture, AProgramDirectoryThatCannotBeWrittenUsesTheUsersOwnDirectories) {
    FakeApp().exe = dir / "missing-dir/Quorvane";  // nothing can be created there
    UserDirs user(config / "home-config", config / "home-state");
    Start();
    EXPECT_TRUE(FakeApp().messages.empty());
    form->Edit2->setText("/db/employee.fdb");
    form->FormClose();
    EXPECT_NE(ReadFile(config / "home-config/quorvane/Quorvane.ini")
                  .find("DATABASENAME=/db/employee.fdb"),
              std::string::npos);
    EXPECT_EQ(
        ReadFile(config / "home-state/quorvane/PROC_LOG.TXT"),
        "20261207.143005:程式執行\r\n20261207.143005:系統停止\r\n20261207.143005:系統結束\r\n");
    EXPECT_EQ(form->Shell1->Directory(), config / "home-state/quorvane");
    EXPECT_EQ(form->AppDir(), dir / "missing-dir/");  // the program itself is still named there
}

TEST_F(FormFixture, UserDirectoriesThatCannotBeWrittenEitherAreNamedOnceAtStartUp) {
    FakeApp().exe = dir / "missing-dir/Quorvane";
    WriteFile(config / "file", "");  // a file, so no directory can be made below it
    UserDirs user(config / "file/config", config / "file/state");
    Start();
    ASSERT_EQ(FakeApp().messages.size(), 1u);
    EXPECT_EQ(FakeApp().messages[0].first,
              "使用者目錄 " + config / "file/config/quorvane" + " 與 " +
                  config / "file/state/quorvane" +
                  " 無法寫入：設定檔 Quorvane.ini 與備份記錄 PROC_LOG.TXT 將無法儲存。"
                  "請檢查這些目錄的權限。");
    EXPECT_EQ(FakeApp().messages[0].second, "Quorvane");
}

TEST_F(FormFixture, AWritableDirectoryGivesNoWarning) {
    Start();
    EXPECT_TRUE(FakeApp().messages.empty());
}

}  // namespace
}  // namespace qv::test
