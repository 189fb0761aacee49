#include "platform/ShellLauncher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <climits>
#include <cstdlib>

namespace qv {

namespace {

bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& directory) {
    QStringList list;
    for (const std::string& a : args) list << QString::fromStdString(a);
    return QProcess::startDetached(QString::fromStdString(program), list,
                                   QString::fromStdString(directory));
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t at = 0;
    while (at <= p.size()) {
        size_t e = p.find(':', at);
        if (e == std::string::npos) e = p.size();
        std::string dir = p.substr(at, e - at);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        at = e + 1;
    }
    return false;
}

// A program is an executable file that is one: an ELF binary or a "#!" script. Files on mounts
// that mark everything executable (NTFS, SMB) are documents all the same.
bool IsProgram(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char head[4] = {};
    ssize_t n = read(fd, head, sizeof head);
    close(fd);
    return (n >= 2 && head[0] == '#' && head[1] == '!') ||
           (n == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F');
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return "./" + path;
    return std::string(cwd) + (std::string(cwd) == "/" ? "" : "/") + path;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::string cur;
    bool in_arg = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size() &&
                       (line[i + 1] == '"' || line[i + 1] == '\\')) {
                cur += line[++i];
            } else {
                cur += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            in_arg = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            cur += line[++i];
            in_arg = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (in_arg) args.push_back(cur);
            cur.clear();
            in_arg = false;
        } else {
            cur += c;
            in_arg = true;
        }
    }
    if (in_arg) args.push_back(cur);
    return args;
}

XdgShellLauncher::XdgShellLauncher(Starter starter)
    : starter_(starter ? std::move(starter) : Starter(StartDetached)) {}

int XdgShellLauncher::ShellExecute(const std::string& file, const std::string& parameters,
                                   const std::string& directory, int) {
    if (file.empty()) return SE_ERR_FNF;
    if (!directory.empty() && access(directory.c_str(), F_OK) != 0) return SE_ERR_PNF;
    // The started process resolves a relative name in its working directory; look there too.
    const std::string seen = file[0] == '/' || directory.empty() ? file : directory + "/" + file;
    struct stat st {};
    if (stat(seen.c_str(), &st) != 0) {
        size_t slash = seen.rfind('/');
        std::string parent = slash == std::string::npos ? "." : seen.substr(0, slash ? slash : 1);
        return access(parent.c_str(), F_OK) == 0 ? SE_ERR_FNF : SE_ERR_PNF;
    }
    if (S_ISREG(st.st_mode) && access(seen.c_str(), X_OK) == 0 && IsProgram(seen)) {
        std::string program = file.find('/') == std::string::npos ? "./" + file : file;
        return starter_(program, SplitCommandLine(parameters), directory) ? kShellAccepted
                                                                          : SE_ERR_ACCESSDENIED;
    }
    if (!OnPath("xdg-open")) return SE_ERR_NOASSOC;
    // An absolute path: a name beginning with "-" or holding ":" would be read as an option or
    // a URL.
    return starter_("xdg-open", {AbsolutePath(seen)}, directory) ? kShellAccepted : SE_ERR_NOASSOC;
}

}  // namespace qv
