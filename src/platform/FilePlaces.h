#pragma once
// Where the program keeps its settings file and its log, decided once at start-up.
//
// A program in a directory its user may write keeps both beside itself. The installed program
// (its configured install directory) and any program whose directory this user cannot write
// keep them in the user's own XDG directories instead, the way Windows gives each user a
// private copy of what an old program writes beside itself:
//   settings  $XDG_CONFIG_HOME/quorvane/Quorvane.ini  (default ~/.config)
//   log       $XDG_STATE_HOME/quorvane/PROC_LOG.TXT   (default ~/.local/state)
// While the user has no settings file yet, the settings are read from an administrator's
// quorvane/Quorvane.ini in the first of $XDG_CONFIG_DIRS that has one (default /etc/xdg); that
// file is only read, the first save writes the user's own.
#include <string>

namespace qv {

// A variable of the process's environment; empty when unset.
std::string Env(const char* name);

// The environment the decision depends on: HOME and the XDG base directory variables.
struct XdgEnvironment {
    std::string home;  // HOME, or the password database's home directory
    std::string config_home, state_home, config_dirs;  // raw values, empty when unset

    static XdgEnvironment FromProcess();
};

struct FilePlaces {
    bool per_user = false;        // in the user's own directories, not beside the program
    std::string settings_file;    // where the settings are saved
    std::string settings_source;  // where they are read at start-up (settings_file or defaults)
    std::string log_dir;          // the log's directory, ending in "/"

    // Decides the places for a program in program_dir (installed_dir: where the package puts
    // it) and, in the per-user case, creates the missing directories with mode 0700.
    static FilePlaces Decide(const std::string& program_dir, const std::string& installed_dir,
                             const XdgEnvironment& env);

    // Whether each file can be written where it is kept (its directory, and the file itself
    // when it exists).
    bool SettingsWritable() const;
    bool LogWritable() const;
    // The directory of the settings file, without a trailing "/".
    std::string SettingsDir() const;
    // The log's directory without its trailing "/".
    std::string LogDir() const;

    // Where the package puts the program: the configured <prefix>/<libdir>/quorvane.
    static std::string InstalledProgramDir();

    static constexpr const char* kSettingsName = "Quorvane.ini";
    static constexpr const char* kLogName = "PROC_LOG.TXT";
};

}  // namespace qv
