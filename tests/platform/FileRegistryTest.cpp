#include "platform/FileRegistry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Platform.h"
#include "components/RegEdit.h"
#include "TestSupport.h"

namespace qv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const char* const kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistry(&reg); }
    void TearDown() override { SetRegistry(nullptr); }
    std::string Raw(HKEY root, const std::string& path, const std::string& name, uint32_t* type) {
        HKEY k = 0;
        if (reg.OpenKeyEx(root, path, &k) != ERROR_SUCCESS) return "<no key>";
        std::string data;
        uint32_t size = 0;
        long rc = reg.QueryValueEx(k, name, type, &size, &data);
        reg.CloseKey(k);
        return rc == ERROR_SUCCESS ? data : "<no value>";
    }
    TempDir dir;
    FileRegistry reg{dir / "home", dir / "etc"};
};

TEST_F(RegistryTest, CreateOpensOrCreatesWithParentsAndOpenDoesNot) {
    HKEY k = 0;
    EXPECT_EQ(reg.OpenKeyEx(HKEY_CURRENT_USER, "A\\B", &k), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(reg.CreateKeyEx(HKEY_CURRENT_USER, "A\\B\\C", &k), ERROR_SUCCESS);
    reg.CloseKey(k);
    EXPECT_EQ(reg.OpenKeyEx(HKEY_CURRENT_USER, "a\\b", &k), ERROR_SUCCESS);  // any case
    EXPECT_EQ(reg.CloseKey(k), ERROR_SUCCESS);
    EXPECT_EQ(reg.CloseKey(k), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg.OpenKeyEx(HKEY_CURRENT_USER, "\\A", &k), ERROR_BAD_PATHNAME);
    EXPECT_EQ(reg.OpenKeyEx(0x80000004, "", &k), ERROR_INVALID_HANDLE);  // not offered
    EXPECT_TRUE(std::filesystem::exists(dir / "home/quorvane/registry-HKCU.json"));
    struct stat st {};
    stat((dir / "home/quorvane/registry-HKCU.json").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryTest, RegEditValueSemantics) {
    TRegEdit r(nullptr);
    r.SetRootKey(TRootKey::HKCU);
    r.SetSubKey("Software\\Test");
    EXPECT_EQ(r.ReadValue("missing"), "");
    EXPECT_TRUE(std::filesystem::exists(dir / "home/quorvane/registry-HKCU.json"));  // created
    HKEY k = 0;
    ASSERT_EQ(reg.OpenKeyEx(HKEY_CURRENT_USER, "Software\\Test", &k), ERROR_SUCCESS);
    reg.SetValueEx(k, "embedded", REG_SZ, std::string("abc\0def\0", 8));
    reg.SetValueEx(k, "nul", REG_SZ, std::string("\0", 1));
    reg.SetValueEx(k, "dword", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
    reg.SetValueEx(k, "expand", REG_EXPAND_SZ, std::string("%HOME%/x\0", 9));
    reg.CloseKey(k);
    EXPECT_EQ(r.ReadValue("embedded"), "abc");
    EXPECT_EQ(r.ReadValue("nul"), "");
    EXPECT_EQ(r.ReadValue("dword"), "");
    EXPECT_EQ(r.ReadValue("expand"), "%HOME%/x");    // not expanded
    EXPECT_TRUE(r.WriteValue("dword", "now text"));  // replaces a value of another type
    uint32_t type = 0;
    EXPECT_EQ(Raw(HKEY_CURRENT_USER, "Software\\Test", "dword", &type),
              std::string("now text\0", 9));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_TRUE(r.DeleteValue("dword"));
    EXPECT_FALSE(r.DeleteValue("dword"));
    EXPECT_EQ(r.Size(), 0u);
}

TEST_F(RegistryTest, LeadingBackslashReadsAndWritesButDeleteGetsItUnchanged) {
    TRegEdit r(nullptr);
    r.SetRootKey(TRootKey::HKCU);
    r.SetSubKey("\\Software\\Lead");
    EXPECT_TRUE(r.WriteValue("v", "1"));
    EXPECT_EQ(r.ReadValue("v"), "1");
    EXPECT_FALSE(r.DeleteValue("v"));  // the store refuses a path that begins with "\"
    r.SetSubKey("Software\\Lead");
    EXPECT_TRUE(r.DeleteValue("v"));
}

TEST_F(RegistryTest, RootHandles) {
    TRegEdit r(nullptr);
    const HKEY expected[] = {0x80000000, 0x80000001, 0x80000002,
                             0x80000003, 0x80000005, 0x80000006};
    for (int i = 0; i < 6; ++i) {
        r.SetRootKey(static_cast<TRootKey>(i));
        EXPECT_EQ(r.RootKeyHandle(), expected[i]);
    }
    r.SetRootKey(TRootKey::HKCC);
    r.SetSubKey("Cfg");
    EXPECT_TRUE(r.WriteValue("v", "x"));
    EXPECT_TRUE(std::filesystem::exists(dir / "etc/quorvane/registry-HKCC.json"));
}

TEST_F(RegistryTest, CorruptedStoreReadsEmptyAndIsNeverWritten) {
    std::filesystem::create_directories(dir / "home/quorvane");
    const std::string junk = "{\"keys\": {\"software\\\\x\": tr";
    WriteFile(dir / "home/quorvane/registry-HKCU.json", junk);
    TRegEdit r(nullptr);
    r.SetRootKey(TRootKey::HKCU);
    r.SetSubKey("Software\\X");
    EXPECT_EQ(r.ReadValue("v"), "");
    EXPECT_FALSE(r.WriteValue("v", "x"));
    EXPECT_FALSE(r.DeleteValue("v"));
    EXPECT_EQ(ReadFile(dir / "home/quorvane/registry-HKCU.json"), junk);
}

TEST_F(RegistryTest, FailedStoreRaisesTheRegistryError) {
    struct Refusing : FileRegistry {
        using FileRegistry::FileRegistry;
        long SetValueEx(HKEY, const std::string&, uint32_t, const std::string&) override {
            return ERROR_ACCESS_DENIED;
        }
    } refusing{dir / "home", dir / "etc"};
    SetRegistry(&refusing);
    TRegEdit r(nullptr);
    r.SetSubKey("Software\\X");
    try {
        r.WriteValue("Quorv", "x");
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'Quorv'");
    }
}

TEST_F(RegistryTest, RunKeyValuesAreAutostartEntries) {
    TRegEdit r(nullptr);
    r.SetRootKey(TRootKey::HKCU);
    r.SetSubKey(kRun);
    ASSERT_TRUE(r.WriteValue("Quorv", "/opt/my apps/Quorvane"));
    const std::string entry = ReadFile(dir / "home/autostart/Quorv.desktop");
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nExec=\"/opt/my apps/Quorvane\"\n"), std::string::npos) << entry;
    EXPECT_EQ(r.ReadValue("Quorv"), "/opt/my apps/Quorvane");
    r.SetRootKey(TRootKey::HKLM);
    ASSERT_TRUE(r.WriteValue("Quorv", "/opt/q/Quorvane"));
    EXPECT_NE(ReadFile(dir / "etc/autostart/Quorv.desktop").find("\nExec=/opt/q/Quorvane\n"),
              std::string::npos);
    EXPECT_TRUE(r.DeleteValue("Quorv"));
    EXPECT_FALSE(std::filesystem::exists(dir / "etc/autostart/Quorv.desktop"));
    EXPECT_FALSE(r.DeleteValue("Quorv"));
    EXPECT_TRUE(std::filesystem::exists(dir / "home/autostart/Quorv.desktop"));
    // An entry written by someone else: its Exec line is the value.
    WriteFile(dir / "etc/autostart/other.desktop", "[Desktop Entry]\nExec=/usr/bin/other --x\n");
    EXPECT_EQ(r.ReadValue("other"), "/usr/bin/other --x");
}

TEST(DesktopExec, QuotesWhatTheDesktopEntryRulesReserve) {
    EXPECT_EQ(DesktopExecFor("/opt/q/Quorvane"), "/opt/q/Quorvane");
    EXPECT_EQ(DesktopExecFor("/a b/Q"), "\"/a b/Q\"");
    EXPECT_EQ(DesktopExecFor("/a$b/Q"), "\"/a\\\\$b/Q\"");  // \$ then the string escape of "\"
    EXPECT_EQ(DesktopExecFor("/100%/Q"), "/100%%/Q");
}

// The machine-wide store may be written by root only; the user's store by the user only.
class RegistryRights : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "etc/autostart");
        std::filesystem::create_directories(dir / "home");
        chmod(dir.path().c_str(), 0755);
        if (geteuid() == 0) {
            ASSERT_EQ(chown((dir / "home").c_str(), test::kOtherUid, test::kOtherGid), 0);
        } else {  // the test runs as a normal user already: take the machine-wide rights away
            chmod((dir / "etc/autostart").c_str(), 0555);
            chmod((dir / "etc").c_str(), 0555);
        }
    }
    void TearDown() override {
        chmod((dir / "etc").c_str(), 0755);
        chmod((dir / "etc/autostart").c_str(), 0755);
    }
    TempDir dir;
};

TEST_F(RegistryRights, AMachineWideKeyTheUserMayNotWriteIsKeptInTheUsersStore) {
    const std::string machine = dir / "etc/autostart/Quorv.desktop";
    const std::string user = dir / "home/autostart/Quorv.desktop";
    int rc = test::RunAsNormalUser([&] {
        FileRegistry reg(dir / "home", dir / "etc");
        SetRegistry(&reg);
        TRegEdit r(nullptr);  // HKLM
        r.SetSubKey(kRun);
        EXPECT_EQ(r.ReadValue("Quorv"), "");
        EXPECT_TRUE(r.WriteValue("Quorv", "/home/u/q/Quorvane"));
        EXPECT_NE(ReadFile(user).find("\nExec=/home/u/q/Quorvane\n"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(machine));
        EXPECT_EQ(r.ReadValue("Quorv"), "/home/u/q/Quorvane");
        EXPECT_TRUE(r.DeleteValue("Quorv"));
        EXPECT_FALSE(std::filesystem::exists(user));
        EXPECT_FALSE(r.DeleteValue("Quorv"));
        // Any other machine-wide key: the user's store.
        r.SetSubKey("Software\\Quorvane");
        EXPECT_TRUE(r.WriteValue("v", "mine"));
        EXPECT_EQ(r.ReadValue("v"), "mine");
        EXPECT_TRUE(std::filesystem::exists(dir / "home/quorvane/registry-HKCU.json"));
        EXPECT_FALSE(std::filesystem::exists(dir / "etc/quorvane"));
        SetRegistry(nullptr);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(RegistryRights, TheUsersValueIsReadFirstAndAMachineWideOneCannotBeDeleted) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can write the machine-wide values (CI runs as root)";
    const std::string machine = dir / "etc/autostart/Quorv.desktop";
    {
        FileRegistry reg(dir / "root-home", dir / "etc");
        SetRegistry(&reg);
        TRegEdit r(nullptr);
        r.SetSubKey(kRun);
        ASSERT_TRUE(r.WriteValue("Quorv", "/opt/q/Quorvane"));  // root: machine-wide
        r.SetSubKey("Software\\Quorvane");
        ASSERT_TRUE(r.WriteValue("v", "machine"));
        SetRegistry(nullptr);
    }
    ASSERT_TRUE(std::filesystem::exists(machine));
    int rc = test::RunAsNormalUser([&] {
        FileRegistry reg(dir / "home", dir / "etc");
        SetRegistry(&reg);
        TRegEdit r(nullptr);
        r.SetSubKey(kRun);
        EXPECT_EQ(r.ReadValue("Quorv"), "/opt/q/Quorvane");
        EXPECT_TRUE(r.WriteValue("Quorv", "/home/u/Quorvane"));
        EXPECT_EQ(r.ReadValue("Quorv"), "/home/u/Quorvane");
        EXPECT_TRUE(r.DeleteValue("Quorv"));
        EXPECT_EQ(r.ReadValue("Quorv"), "/opt/q/Quorvane");
        EXPECT_FALSE(r.DeleteValue("Quorv"));
        r.SetSubKey("Software\\Quorvane");
        EXPECT_EQ(r.ReadValue("v"), "machine");
        EXPECT_TRUE(r.WriteValue("v", "mine"));
        EXPECT_EQ(r.ReadValue("v"), "mine");
        SetRegistry(nullptr);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(std::filesystem::exists(machine));
    struct stat st {};
    ASSERT_EQ(stat((dir / "home/quorvane/registry-HKCU.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, test::kOtherUid);
    // Root replacing the user's store keeps it the user's.
    FileRegistry as_root(dir / "home", dir / "etc");
    HKEY k = 0;
    ASSERT_EQ(as_root.CreateKeyEx(HKEY_CURRENT_USER, "Software\\Quorvane", &k), ERROR_SUCCESS);
    ASSERT_EQ(as_root.SetValueEx(k, "v", REG_SZ, std::string("root\0", 5)), ERROR_SUCCESS);
    ASSERT_EQ(stat((dir / "home/quorvane/registry-HKCU.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, test::kOtherUid);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryRights, NoStoreToWriteMeansNoKey) {
    int rc = test::RunAsNormalUser([&] {
        FileRegistry reg(dir / "etc/not-mine", dir / "etc");  // neither store is the user's
        SetRegistry(&reg);
        TRegEdit r(nullptr);
        r.SetSubKey(kRun);
        EXPECT_EQ(r.ReadValue("Quorv"), "");
        EXPECT_FALSE(r.WriteValue("Quorv", "/x"));
        EXPECT_FALSE(r.DeleteValue("Quorv"));
        SetRegistry(nullptr);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace qv
