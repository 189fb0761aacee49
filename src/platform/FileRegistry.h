#pragma once
// The registry on Linux: one JSON store file per root under the XDG configuration directories
// (HKCU per user under $XDG_CONFIG_HOME, default ~/.config; the other roots machine-wide under
// the first directory of $XDG_CONFIG_DIRS, default /etc/xdg), replaced atomically. String
// values of the logon Run key (Software\Microsoft\Windows\CurrentVersion\Run under HKCU or HKLM)
// are XDG autostart entries, <name>.desktop in the autostart folder of the same directory.
// Rights follow the file system. A machine-wide (HKLM) key that the user may not write is kept
// in the user's store (HKCU): writes go there, reads look there first and then machine-wide,
// deletes remove the user's value. A corrupted store reads as empty and is never written.
#include <map>
#include <string>

#include "platform/RegistryStore.h"

namespace qv {

class FileRegistry : public IRegistry {
public:
    // Empty arguments take the XDG directories from the environment.
    explicit FileRegistry(std::string user_config_dir = "", std::string system_config_dir = "");

    long CreateKeyEx(HKEY root, const std::string& path, HKEY* key) override;
    long OpenKeyEx(HKEY root, const std::string& path, HKEY* key) override;
    long QueryValueEx(HKEY key, const std::string& name, uint32_t* type, uint32_t* size,
                      std::string* data) override;
    long SetValueEx(HKEY key, const std::string& name, uint32_t type,
                    const std::string& data) override;
    long DeleteValue(HKEY key, const std::string& name) override;
    long CloseKey(HKEY key) override;

    // Where a root's store and autostart entries live.
    std::string ConfigDirOf(HKEY root) const;
    std::string StoreFileOf(HKEY root) const;

private:
    struct OpenKey {
        HKEY root;
        std::string path;  // normalised: components joined by "\", original case
        bool redirected;   // a machine-wide key kept in the user's store
    };
    long Open(HKEY root, const std::string& path, bool create, HKEY* key);
    long QueryIn(const OpenKey& k, const std::string& name, uint32_t* type, uint32_t* size,
                 std::string* data) const;
    long SetIn(const OpenKey& k, const std::string& name, uint32_t type, const std::string& data);
    long DeleteIn(const OpenKey& k, const std::string& name);
    bool Writable(const OpenKey& k) const;
    static OpenKey UserView(const OpenKey& k);
    static HKEY WriteRoot(const OpenKey& k);
    bool IsRunKey(const OpenKey& k) const;
    std::string AutostartFile(const OpenKey& k, const std::string& name) const;

    std::string user_dir_, system_dir_;
    std::map<HKEY, OpenKey> open_;
    HKEY next_ = 0x1000;
};

// The Exec line of an autostart entry for a Run value, and back.
std::string DesktopExecFor(const std::string& command);

}  // namespace qv
