#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"

namespace qv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Get(const std::string& text, const std::string& section, const std::string& key) {
    std::string v;
    return ini::Find(text, section, key, &v) ? v : "<missing>";
}

TEST(IniText, ReadsHandEditedFilesTheWindowsWay) {
    const std::string text =
        "; settings\r\n"
        "  [ para ]  \n"
        "  ServerName   =   db.example  \r"
        "; user=ignored\n"
        "\n"
        "Quoted=\"  two blanks  \"\r\n"
        "Single='x'\r\n"
        "Lone=\"abc\r\n"
        "Eq=a=b=c\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "serverName=second\r\n"
        "[Other]\r\n"
        "Key=other\r\n"
        "[PARA]\r\n"
        "Late=ignored\r\n";
    EXPECT_EQ(Get(text, "Para", "SERVERNAME"), "db.example");
    EXPECT_EQ(Get(text, "PARA", " servername "), "db.example");  // first key wins
    EXPECT_EQ(Get(text, "Para", "Quoted"), "  two blanks  ");
    EXPECT_EQ(Get(text, "Para", "Single"), "x");
    EXPECT_EQ(Get(text, "Para", "Lone"), "\"abc");
    EXPECT_EQ(Get(text, "Para", "Eq"), "a=b=c");
    EXPECT_EQ(Get(text, "Para", "Empty"), "");
    EXPECT_EQ(Get(text, "Para", "user"), "<missing>");
    EXPECT_EQ(Get(text, "Para", "NoEquals"), "<missing>");
    EXPECT_EQ(Get(text, "Para", "Key"), "<missing>");
    EXPECT_EQ(Get(text, "Para", "Late"), "<missing>");  // first matching section wins
    EXPECT_EQ(Get(text, "Other", "key"), "other");
    EXPECT_EQ(Get(text, "Missing", "Key"), "<missing>");
}

TEST(IniText, WritingKeepsEveryOtherByte) {
    const std::string text = "; keep me\n[Para]\nA=1\n\n; note\nB = 2 \n\n[Other]\r\nC=3";
    std::string out;
    ASSERT_TRUE(ini::Set(text, "para", "b", "new", &out));
    EXPECT_EQ(out, "; keep me\n[Para]\nA=1\n\n; note\nb=new\r\n\n[Other]\r\nC=3");
    ASSERT_TRUE(ini::Set(text, "Para", "D", "4", &out));
    EXPECT_EQ(out, "; keep me\n[Para]\nA=1\n\n; note\nB = 2 \nD=4\r\n\n[Other]\r\nC=3");
    ASSERT_TRUE(ini::Set(text, "Other", "E", "5", &out));
    EXPECT_EQ(out, "; keep me\n[Para]\nA=1\n\n; note\nB = 2 \n\n[Other]\r\nC=3\r\nE=5\r\n");
    ASSERT_TRUE(ini::Set(text, "New", "K", "v", &out));
    EXPECT_EQ(out, text + "\r\n[New]\r\nK=v\r\n");
    ASSERT_TRUE(ini::Set("", "Para", "K", "v", &out));
    EXPECT_EQ(out, "[Para]\r\nK=v\r\n");
}

TEST(IniText, AwkwardValuesReadBackExactly) {
    for (std::string v :
         {" lead", "trail ", "  both  ", "\"quoted\"", "'single'", "\"", "'", "a\"b", "x=y",
          ";not a comment", "[notsection]", "", "中文 名稱 ", "\t tab"}) {
        std::string out;
        ASSERT_TRUE(ini::Set("[Para]\r\n", "Para", "K", v, &out)) << v;
        EXPECT_EQ(Get(out, "Para", "K"), v) << out;
    }
}

TEST(IniText, RefusesWhatTheFormatCannotHold) {
    std::string out;
    EXPECT_FALSE(ini::Set("", "Para", "K", "two\r\nlines", &out));
    EXPECT_FALSE(ini::Set("", "Para", "K", "cr\ronly", &out));
    EXPECT_FALSE(ini::Set("", "", "K", "v", &out));
    EXPECT_FALSE(ini::Set("", "Para", "", "v", &out));
    EXPECT_FALSE(ini::Set("", "Para", "a=b", "v", &out));
    EXPECT_FALSE(ini::Set("", "Pa]ra", "K", "v", &out));
}

TEST(ProfileFile, MissingFileSectionOrKeyGivesTheDefault) {
    TempDir dir;
    ProfileFile files;
    EXPECT_EQ(files.ReadString(dir / "none.ini", "Para", "K", "def"), "def");
    WriteFile(dir / "a.ini", "[Para]\r\nK=\r\nN=7\r\n");
    EXPECT_EQ(files.ReadString(dir / "a.ini", "Para", "K", "def"), "");
    EXPECT_EQ(files.ReadString(dir / "a.ini", "Para", "X", "def"), "def");
    EXPECT_EQ(files.ReadString(dir / "a.ini", "Nope", "K", "def"), "def");
    EXPECT_EQ(files.ReadInteger(dir / "a.ini", "Para", "N", -1), 7);
    EXPECT_EQ(files.ReadInteger(dir / "a.ini", "Para", "K", -1), -1);
    EXPECT_EQ(files.ReadString(dir.path(), "Para", "K", "def"), "def");  // a directory
}

TEST(ProfileFile, CutsLongValuesAt2047BytesOnACharacterBoundary) {
    TempDir dir;
    ProfileFile files;
    WriteFile(dir / "a.ini", "[Para]\r\nK=" + std::string(3000, 'x') + "\r\n");
    EXPECT_EQ(files.ReadString(dir / "a.ini", "Para", "K", ""), std::string(2047, 'x'));
    // 2046 bytes then a three-byte character: the character is not split.
    WriteFile(dir / "b.ini", "[Para]\r\nK=" + std::string(2046, 'x') + "中\r\n");
    EXPECT_EQ(files.ReadString(dir / "b.ini", "Para", "K", ""), std::string(2046, 'x'));
}

TEST(ProfileFile, IntegerRules) {
    EXPECT_EQ(ProfileTextToInt("0x1F", 5), 31);
    EXPECT_EQ(ProfileTextToInt("0X1f", 5), 31);
    EXPECT_EQ(ProfileTextToInt("0x", 5), 5);  // two characters: parsed as decimal, not a number
    EXPECT_EQ(ProfileTextToInt("$10", 5), 16);
    EXPECT_EQ(ProfileTextToInt("  -12", 5), -12);
    EXPECT_EQ(ProfileTextToInt("+3", 5), 3);
    EXPECT_EQ(ProfileTextToInt("abc", 5), 5);
    EXPECT_EQ(ProfileTextToInt("12a", 5), 5);
    EXPECT_EQ(ProfileTextToInt("", 5), 5);
    EXPECT_EQ(ProfileTextToInt("-2147483648", 5), INT32_MIN);
    EXPECT_EQ(ProfileTextToInt("2147483648", 5), 5);
    EXPECT_EQ(ProfileTextToInt("0xFFFFFFFF", 5), -1);
    EXPECT_EQ(ProfileTextToInt("0x1FFFFFFFF", 5), 5);
}

TEST(ProfileFile, WriteCreatesOwnerOnlyFileAndKeepsExistingMode) {
    TempDir dir;
    ProfileFile files;
    ASSERT_TRUE(files.WriteString(dir / "new.ini", "Para", "PASSWORD", "secret"));
    struct stat st {};
    ASSERT_EQ(stat((dir / "new.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(dir / "new.ini"), "[Para]\r\nPASSWORD=secret\r\n");

    // An existing file keeps its mode, less the read bits of group and others.
    WriteFile(dir / "old.ini", "[Para]\r\n");
    chmod((dir / "old.ini").c_str(), 0754);
    ASSERT_TRUE(files.WriteString(dir / "old.ini", "Para", "K", "v"));
    ASSERT_EQ(stat((dir / "old.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0710u);
    chmod((dir / "old.ini").c_str(), 0644);  // also when the write changes nothing
    ASSERT_TRUE(files.WriteString(dir / "old.ini", "Para", "K", "v"));
    ASSERT_EQ(stat((dir / "old.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(dir / "old.ini"), "[Para]\r\nK=v\r\n");
}

TEST(ProfileFile, RootWritingAUsersFilesLeavesThemTheUsers) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away (CI runs as root)";
    TempDir dir;
    ProfileFile files;
    WriteFile(dir / "user.ini", "[Para]\r\n");
    ASSERT_EQ(chown((dir / "user.ini").c_str(), 65534, 65534), 0);
    ASSERT_TRUE(files.WriteString(dir / "user.ini", "Para", "K", "v"));
    struct stat st {};
    ASSERT_EQ(stat((dir / "user.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A new file in a user's directory is the user's too.
    ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
    ASSERT_TRUE(files.WriteString(dir / "new.ini", "Para", "K", "v"));
    ASSERT_EQ(stat((dir / "new.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ProfileFile, WriteFailuresLeaveTheFileWholeAndNoTemporaryBehind) {
    TempDir dir;
    ProfileFile files;
    EXPECT_FALSE(files.WriteString(dir / "missing/dir.ini", "Para", "K", "v"));
    WriteFile(dir / "a.ini", "[Para]\r\nK=old\r\n");
    EXPECT_FALSE(files.WriteString(dir / "a.ini", "Para", "K", "line\nbreak"));
    EXPECT_EQ(ReadFile(dir / "a.ini"), "[Para]\r\nK=old\r\n");
    // A directory the user may not write (root writes through permission bits: a normal user).
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.path().c_str(), test::kOtherUid, test::kOtherGid), 0);
    }
    chmod((dir / "a.ini").c_str(), 0666);
    chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(test::RunAsNormalUser(
                  [&] { return files.WriteString(dir / "a.ini", "Para", "K", "new") ? 1 : 0; }),
              0);
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(ReadFile(dir / "a.ini"), "[Para]\r\nK=old\r\n");
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(ProfileFile, NeverWritesThroughASymbolicLink) {
    // Planted where the settings belong: root running that copy must not write elsewhere.
    TempDir dir;
    ProfileFile files;
    WriteFile(dir / "real.ini", "[Para]\r\n");
    chmod((dir / "real.ini").c_str(), 0644);
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
    std::filesystem::create_symlink(dir / "absent.ini", dir / "dangling.ini");
    for (const char* name : {"link.ini", "dangling.ini"}) {
        EXPECT_FALSE(files.WriteString(dir / name, "Para", "K", "v")) << name;
        EXPECT_FALSE(files.WriteStrings(dir / name, "Para", {{"K", "v"}})) << name;
        EXPECT_TRUE(std::filesystem::is_symlink(dir / name)) << name;
    }
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[Para]\r\n");
    struct stat st {};
    ASSERT_EQ(stat((dir / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent.ini"));
}

TEST(ProfileFile, SeveralKeysInOneWriteGiveTheTextOfOneWriteEach) {
    const ProfileEntries entries = {{"SERVERNAME", "db1"}, {"BAD", "line\nbreak"},
                                    {"PASSWORD", " p w"},  {"server", "db2"},
                                    {"NEW", ""},           {"B", "2"}};
    for (const std::string start : {"", "; mine\n[Para]\nB=1\n[Other]\nX=y", "[Other]\r\n"}) {
        TempDir dir;
        ProfileFile files;
        if (!start.empty()) {
            WriteFile(dir / "one.ini", start);
            WriteFile(dir / "each.ini", start);
        }
        EXPECT_FALSE(files.WriteStrings(dir / "one.ini", "Para", entries));  // BAD is left out
        for (const auto& [key, value] : entries)
            files.WriteString(dir / "each.ini", "Para", key, value);
        EXPECT_EQ(ReadFile(dir / "one.ini"), ReadFile(dir / "each.ini")) << start;
    }
    TempDir dir;
    ProfileFile files;
    EXPECT_TRUE(files.WriteStrings(dir / "none.ini", "Para", {}));
    EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));  // nothing to write: no file
}

}  // namespace
}  // namespace qv
