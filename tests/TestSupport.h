#pragma once
// Helpers shared by the tests: temporary directories and whole-file reads.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Application.h"
#include "FakeApplication.h"
#include "platform/Platform.h"

namespace qv::test {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qvtest.XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Another local user for the tests of rights: "nobody".
constexpr uid_t kOtherUid = 65534;
constexpr gid_t kOtherGid = 65534;

// Runs body in a child process as a normal user: root switches to kOtherUid first, anyone else
// stays who they are. Gives body's result (0 for success; body may use EXPECT_* and return
// HasFailure()), or 100 when the child could not become that user.
inline int RunAsNormalUser(const std::function<int()>& body) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(kOtherGid, kOtherGid, kOtherGid) != 0 ||
             setresuid(kOtherUid, kOtherUid, kOtherUid) != 0))
            _exit(100);
        int rc = body();
        std::fflush(stdout);
        _exit(rc);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 101;
    return WEXITSTATUS(status);
}

inline FakeApplication& FakeApp() {
    return static_cast<FakeApplication&>(Application());
}

}  // namespace qv::test
