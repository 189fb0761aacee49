#include "components/IniFil.h"

#include <gtest/gtest.h>

#include "FakeProfileFiles.h"
#include "TestSupport.h"

namespace qv {
namespace {

using test::FakeApp;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeApp().messages.clear();
        ini.SetSection("Para");
        ini.SetFileName(dir / "Quorvane.ini");
    }
    bool ReadAs(TiniType type, const char* key) {
        ini.SetDataType(type);
        ini.SetIdent(key);
        return ini.Read();
    }
    bool WriteAs(TiniType type, const char* key, TVariant v) {
        ini.SetDataType(type);
        ini.SetIdent(key);
        ini.SetValue(std::move(v));
        return ini.Write();
    }
    TempDir dir;
    TIni ini{nullptr};
};

TEST_F(IniTest, FileNameKeepsItsCaseAndGetsIniOnlyWhenMissing) {
    ini.SetFileName(dir / "settings");
    WriteAs(TiniType::DsString, "K", "v");
    EXPECT_EQ(ini.FileName(), dir / "settings.INI");
    EXPECT_EQ(ReadFile(dir / "settings.INI"), "[Para]\r\nK=v\r\n");
    WriteAs(TiniType::DsString, "K", "w");
    EXPECT_EQ(ini.FileName(), dir / "settings.INI");  // no second extension

    ini.SetFileName(dir / "Quorvane.ini");
    WriteAs(TiniType::DsString, "K", "v");
    EXPECT_EQ(ini.FileName(), dir / "Quorvane.ini");
    EXPECT_TRUE(std::filesystem::exists(dir / "Quorvane.ini"));

    ini.SetFileName("/x/A.IniT/cfg");  // ".INI" anywhere, any case
    ini.SetDataType(TiniType::DsString);
    ini.Read();
    EXPECT_EQ(ini.FileName(), "/x/A.IniT/cfg");
}

TEST_F(IniTest, EmptyFileNameOrSectionShowsTheDialogAndTouchesNothing) {
    ini.SetSection("");
    ini.SetValue("kept");
    EXPECT_FALSE(ReadAs(TiniType::DsString, "K"));
    EXPECT_EQ(ini.Value(), TVariant("kept"));
    EXPECT_FALSE(WriteAs(TiniType::DsString, "K", "v"));
    ini.SetSection("Para");
    ini.SetFileName("");
    EXPECT_FALSE(ReadAs(TiniType::DsString, "K"));
    ASSERT_EQ(FakeApp().messages.size(), 3u);
    EXPECT_EQ(FakeApp().messages[0].first, "FileName or Section 參數錯誤");
    EXPECT_EQ(FakeApp().messages[0].second, "Quorvane");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    // The service installs no application object: the same read fails without a dialog.
    FakeApplication& app = FakeApp();
    SetApplication(nullptr);
    EXPECT_FALSE(ReadAs(TiniType::DsString, "K"));
    SetApplication(&app);
    EXPECT_EQ(app.messages.size(), 3u);
}

TEST_F(IniTest, SentinelsAndMissingKeys) {
    // Saved by an editor that starts UTF-8 with a byte-order mark: the first section counts.
    WriteFile(
        dir / "Quorvane.ini",
        "\xEF\xBB\xBF[Para]\r\nS=__@#!%$^\r\nE=\r\nI=-12121212\r\nH=0x1F\r\nA=abc\r\nB=5\r\n");
    EXPECT_FALSE(ReadAs(TiniType::DsString, "S"));
    EXPECT_EQ(ini.Value(), TVariant(TIni::kMissingString));
    EXPECT_TRUE(ReadAs(TiniType::DsString, "E"));
    EXPECT_EQ(ini.Value(), TVariant(""));
    EXPECT_FALSE(ReadAs(TiniType::DsString, "nope"));
    EXPECT_FALSE(ReadAs(TiniType::DsInteger, "I"));
    EXPECT_TRUE(ReadAs(TiniType::DsInteger, "H"));
    EXPECT_EQ(ini.Value(), TVariant(int32_t{31}));
    EXPECT_FALSE(ReadAs(TiniType::DsInteger, "A"));
    EXPECT_EQ(ini.Value(), TVariant(TIni::kMissingInteger));
    EXPECT_TRUE(ReadAs(TiniType::DsBoolean, "nope"));
    EXPECT_EQ(ini.Value(), TVariant(false));
    EXPECT_TRUE(ReadAs(TiniType::DsBoolean, "B"));
    EXPECT_EQ(ini.Value(), TVariant(true));
    // Written back without the mark, every other byte kept.
    EXPECT_TRUE(WriteAs(TiniType::DsString, "B", "6"));
    EXPECT_EQ(ReadFile(dir / "Quorvane.ini"),
              "[Para]\r\nS=__@#!%$^\r\nE=\r\nI=-12121212\r\nH=0x1F\r\nA=abc\r\nB=6\r\n");
}

TEST_F(IniTest, WritesEachTypeAndRefusesBadConversionsWithoutTouchingTheFile) {
    EXPECT_TRUE(WriteAs(TiniType::DsInteger, "N", int32_t{-1}));
    EXPECT_TRUE(WriteAs(TiniType::DsInteger, "T", "42"));
    EXPECT_TRUE(WriteAs(TiniType::DsBoolean, "B", true));
    EXPECT_TRUE(WriteAs(TiniType::DsString, "S", int32_t{7}));
    const std::string before = ReadFile(dir / "Quorvane.ini");
    EXPECT_EQ(before, "[Para]\r\nN=-1\r\nT=42\r\nB=1\r\nS=7\r\n");
    EXPECT_FALSE(WriteAs(TiniType::DsInteger, "N", "12a"));
    EXPECT_EQ(ini.Value(), TVariant("12a"));  // Write leaves Value alone
    EXPECT_EQ(ReadFile(dir / "Quorvane.ini"), before);
}

TEST_F(IniTest, LongValuesAndAwkwardTextsRoundTrip) {
    WriteFile(dir / "Quorvane.ini", "[Para]\r\nL=" + std::string(3000, 'a') + "\r\n");
    ASSERT_TRUE(ReadAs(TiniType::DsString, "L"));
    EXPECT_EQ(ini.Value().ToString(), std::string(2047, 'a'));
    for (const char* v : {"name with trailing blank ", " lead", "\"q\"", "備份 檔"}) {
        ASSERT_TRUE(WriteAs(TiniType::DsString, "V", v));
        ASSERT_TRUE(ReadAs(TiniType::DsString, "V"));
        EXPECT_EQ(ini.Value().ToString(), v);
    }
}

TEST_F(IniTest, WritesBetweenBeginAndEndUpdateAreOneWriteOfTheSameText) {
    FakeProfileFiles fake;
    SetProfileFiles(&fake);
    const std::string file = dir / "Quorvane.ini";
    fake.files[file] = "[Para]\r\nB=old\r\n";
    ini.BeginUpdate();
    EXPECT_TRUE(WriteAs(TiniType::DsString, "A", "x"));
    EXPECT_TRUE(WriteAs(TiniType::DsInteger, "B", 7));
    EXPECT_TRUE(WriteAs(TiniType::DsBoolean, "C", true));
    EXPECT_EQ(fake.writes, 0);
    EXPECT_TRUE(ini.EndUpdate());
    EXPECT_EQ(fake.writes, 1);
    EXPECT_EQ(fake.files[file], "[Para]\r\nB=7\r\nA=x\r\nC=1\r\n");
    EXPECT_TRUE(ini.EndUpdate());  // nothing gathered: nothing written
    EXPECT_EQ(fake.writes, 1);
    EXPECT_TRUE(WriteAs(TiniType::DsString, "A", "y"));  // one write each again
    EXPECT_EQ(fake.writes, 2);
    SetProfileFiles(nullptr);
}

TEST_F(IniTest, AFailedWriteIsAFalseResult) {
    FakeProfileFiles fake;
    fake.fail_writes = true;
    SetProfileFiles(&fake);
    EXPECT_FALSE(WriteAs(TiniType::DsString, "K", "v"));
    EXPECT_GE(fake.flushes, 1);  // released even on failure
    SetProfileFiles(nullptr);
    ini.SetFileName(dir / "no/such/dir/x.ini");
    EXPECT_FALSE(WriteAs(TiniType::DsString, "K", "v"));
}

}  // namespace
}  // namespace qv
