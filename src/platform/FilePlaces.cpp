#include "platform/FilePlaces.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/Files.h"

namespace qv {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The same directory, also when one of the two is reached through a symbolic link
// (/lib and /usr/lib on a merged-/usr system).
bool SameDirectory(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    auto canonical = [](const std::string& p) {
        char buf[PATH_MAX];
        return realpath(p.c_str(), buf) ? std::string(buf) : WithoutTrailingSlashes(p);
    };
    return canonical(a) == canonical(b);
}

// An XDG base directory: the variable when it holds an absolute path (relative ones are
// invalid and ignored), else the default under the home directory.
std::string BaseDir(const std::string& value, const std::string& home, const char* fallback) {
    if (!value.empty() && value[0] == '/') return WithoutTrailingSlashes(value);
    return WithoutTrailingSlashes(home) + fallback;
}

// Creates every missing directory of the path owner-only (0700, whatever the umask);
// directories that exist keep their mode.
void MakeOwnDirectories(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (MakeDirectory(part, 0700)) chmod(part.c_str(), 0700);
    }
}

// The administrator's defaults: quorvane/Quorvane.ini in the first configuration directory
// that has one; empty when none does.
std::string AdministratorDefaults(const std::string& config_dirs) {
    const std::string dirs = config_dirs.empty() ? "/etc/xdg" : config_dirs;
    size_t at = 0;
    while (at <= dirs.size()) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(at, end - at);
        if (!dir.empty() && dir[0] == '/') {
            const std::string file =
                WithoutTrailingSlashes(dir) + "/quorvane/" + FilePlaces::kSettingsName;
            if (FileExists(file)) return file;
        }
        at = end + 1;
    }
    return "";
}

}  // namespace

std::string FilePlaces::InstalledProgramDir() {
    return QUORVANE_INSTALLED_DIR;
}

XdgEnvironment XdgEnvironment::FromProcess() {
    XdgEnvironment env;
    env.home = HomeDirectory();
    env.config_home = Env("XDG_CONFIG_HOME");
    env.state_home = Env("XDG_STATE_HOME");
    env.config_dirs = Env("XDG_CONFIG_DIRS");
    return env;
}

FilePlaces FilePlaces::Decide(const std::string& program_dir, const std::string& installed_dir,
                              const XdgEnvironment& env) {
    FilePlaces places;
    const std::string dir = WithoutTrailingSlashes(program_dir);
    places.per_user = SameDirectory(dir, installed_dir) || !DirectoryWritable(dir);
    if (!places.per_user) {
        const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
        places.settings_file = places.settings_source = base + kSettingsName;
        places.log_dir = base;
        return places;
    }
    const std::string config_dir = BaseDir(env.config_home, env.home, "/.config") + "/quorvane";
    const std::string state_dir = BaseDir(env.state_home, env.home, "/.local/state") + "/quorvane";
    MakeOwnDirectories(config_dir);
    MakeOwnDirectories(state_dir);
    places.settings_file = places.settings_source = config_dir + "/" + kSettingsName;
    places.log_dir = state_dir + "/";
    if (!FileExists(places.settings_file)) {
        const std::string defaults = AdministratorDefaults(env.config_dirs);
        if (!defaults.empty()) places.settings_source = defaults;
    }
    return places;
}

std::string FilePlaces::SettingsDir() const {
    return ParentDirectory(settings_file);
}

std::string FilePlaces::LogDir() const {
    return WithoutTrailingSlashes(log_dir);
}

bool FilePlaces::SettingsWritable() const {
    return DirectoryWritable(SettingsDir()) && FileWritableOrAbsent(settings_file);
}

bool FilePlaces::LogWritable() const {
    return DirectoryWritable(LogDir()) && FileWritableOrAbsent(log_dir + kLogName);
}

}  // namespace qv
