#include "platform/FileRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Files.h"
#include "platform/Strings.h"

namespace qv {

namespace {

const char* const kRunKey = "software\\microsoft\\windows\\currentversion\\run";

const char* RootName(HKEY root) {
    switch (root) {
        case HKEY_CLASSES_ROOT:
            return "HKCR";
        case HKEY_CURRENT_USER:
            return "HKCU";
        case HKEY_LOCAL_MACHINE:
            return "HKLM";
        case HKEY_USERS:
            return "HKU";
        case HKEY_CURRENT_CONFIG:
            return "HKCC";
        case HKEY_DYN_DATA:
            return "HKDD";
        default:
            return nullptr;
    }
}

// Creates the directory and its parents; false when that is not allowed.
bool MakeDirs(const std::string& dir, mode_t mode) {
    if (dir.empty() || access(dir.c_str(), F_OK) == 0) return true;
    size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash), mode))
        return false;
    return MakeDirectory(dir, mode) || errno == EEXIST;
}

// True when a file could be written at path (its nearest existing directory allows it).
bool CanWrite(const std::string& path) {
    if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
    std::string dir = path;
    while (!dir.empty()) {
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos || slash == 0 ? (slash == 0 ? "/" : "")
                                                       : dir.substr(0, slash);
        if (dir.empty()) return access(".", W_OK) == 0;
        if (access(dir.c_str(), F_OK) == 0) return access(dir.c_str(), W_OK | X_OK) == 0;
        if (dir == "/") return false;
    }
    return false;
}

bool WriteAtomically(const std::string& path, const std::string& data, mode_t mode) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && !MakeDirs(path.substr(0, slash), 0755)) return false;
    return ReplaceFileAtomically(path, data, mode);
}

std::string EscapeDesktop(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string UnescapeDesktop(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == 's' ? ' ' : c;
    }
    return out;
}

// The store of one root: keys by lower-case path, each with its spelling and its values.
struct Store {
    QJsonObject keys;
    bool corrupt = false;
};

QString Lower(const std::string& s) {
    return QString::fromStdString(LowerAscii(s));
}

}  // namespace

std::string DesktopExecFor(const std::string& command) {
    // The whole value is one program path: quoted as the desktop entry rules ask when needed.
    bool needs_quotes = command.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string arg;
    for (char c : command) {
        if (c == '%') {
            arg += "%%";
            continue;
        }
        if (needs_quotes && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
        arg += c;
    }
    return EscapeDesktop(needs_quotes ? "\"" + arg + "\"" : arg);
}

FileRegistry::FileRegistry(std::string user_config_dir, std::string system_config_dir)
    : user_dir_(std::move(user_config_dir)), system_dir_(std::move(system_config_dir)) {
    if (user_dir_.empty()) {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        user_dir_ = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.config";
    }
    if (system_dir_.empty()) {
        const char* dirs = std::getenv("XDG_CONFIG_DIRS");
        std::string first =
            dirs && *dirs ? std::string(dirs).substr(0, std::string(dirs).find(':')) : "";
        system_dir_ = first.empty() ? "/etc/xdg" : first;
    }
}

std::string FileRegistry::ConfigDirOf(HKEY root) const {
    return root == HKEY_CURRENT_USER ? user_dir_ : system_dir_;
}

std::string FileRegistry::StoreFileOf(HKEY root) const {
    return ConfigDirOf(root) + "/quorvane/registry-" + RootName(root) + ".json";
}

namespace {

Store LoadStore(const std::string& file) {
    Store s;
    std::string text;
    bool exists = false;
    if (!ReadWholeFile(file, &text, &exists)) {
        s.corrupt = true;
        return s;
    }
    if (!exists || text.empty()) return s;
    QJsonParseError err{};
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject() ||
        !doc.object().value("keys").isObject()) {
        s.corrupt = true;
        return s;
    }
    s.keys = doc.object().value("keys").toObject();
    return s;
}

bool SaveStore(const std::string& file, const Store& s, HKEY root) {
    QJsonObject top;
    top.insert("keys", s.keys);
    return WriteAtomically(file, QJsonDocument(top).toJson().toStdString(),
                           root == HKEY_CURRENT_USER ? 0600 : 0644);
}

}  // namespace

long FileRegistry::Open(HKEY root, const std::string& path, bool create, HKEY* key) {
    std::string base;
    HKEY real_root = root;
    if (auto it = open_.find(root); it != open_.end()) {
        real_root = it->second.root;
        base = it->second.path;
    } else if (!RootName(root)) {
        return ERROR_INVALID_HANDLE;
    }
    if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
    std::string full = base;
    if (!path.empty()) {
        std::string p = path;
        if (p.back() == '\\') p.pop_back();
        if (p.find("\\\\") != std::string::npos || p.empty()) return ERROR_BAD_PATHNAME;
        full = base.empty() ? p : base + "\\" + p;
    }
    OpenKey k{real_root, full, false};
    // Every open asks for full access. A machine-wide key the user may not write is the same
    // key in the user's own store (as Windows does for older programs); without any right to
    // write, the key does not open.
    if (!Writable(k)) {
        if (real_root != HKEY_LOCAL_MACHINE || !Writable(UserView(k))) return ERROR_ACCESS_DENIED;
        k.redirected = true;
    }
    const std::string file = StoreFileOf(WriteRoot(k));
    Store s = LoadStore(file);
    if (s.corrupt) return ERROR_BADDB;
    bool exists = full.empty() || s.keys.contains(Lower(full)) || IsRunKey(k) ||
                  (k.redirected && LoadStore(StoreFileOf(k.root)).keys.contains(Lower(full)));
    if (!exists) {
        if (!create) return ERROR_FILE_NOT_FOUND;
        // The key and every missing key above it.
        std::string prefix;
        for (const std::string& part : [&] {
                 std::vector<std::string> parts;
                 size_t at = 0;
                 while (at <= full.size()) {
                     size_t e = full.find('\\', at);
                     if (e == std::string::npos) e = full.size();
                     parts.push_back(full.substr(at, e - at));
                     at = e + 1;
                 }
                 return parts;
             }()) {
            prefix = prefix.empty() ? part : prefix + "\\" + part;
            if (!s.keys.contains(Lower(prefix))) {
                QJsonObject entry;
                entry.insert("path", QString::fromStdString(prefix));
                entry.insert("values", QJsonObject());
                s.keys.insert(Lower(prefix), entry);
            }
        }
        if (!SaveStore(file, s, WriteRoot(k))) return ERROR_ACCESS_DENIED;
    }
    *key = next_++;
    open_[*key] = k;
    return ERROR_SUCCESS;
}

long FileRegistry::CreateKeyEx(HKEY root, const std::string& path, HKEY* key) {
    return Open(root, path, true, key);
}

long FileRegistry::OpenKeyEx(HKEY root, const std::string& path, HKEY* key) {
    return Open(root, path, false, key);
}

bool FileRegistry::Writable(const OpenKey& k) const {
    return CanWrite(StoreFileOf(k.root)) && (!IsRunKey(k) || CanWrite(AutostartFile(k, "x")));
}

FileRegistry::OpenKey FileRegistry::UserView(const OpenKey& k) {
    return OpenKey{HKEY_CURRENT_USER, k.path, false};
}

HKEY FileRegistry::WriteRoot(const OpenKey& k) {
    return k.redirected ? HKEY_CURRENT_USER : k.root;
}

bool FileRegistry::IsRunKey(const OpenKey& k) const {
    return (k.root == HKEY_CURRENT_USER || k.root == HKEY_LOCAL_MACHINE) &&
           LowerAscii(k.path) == kRunKey;
}

std::string FileRegistry::AutostartFile(const OpenKey& k, const std::string& name) const {
    return ConfigDirOf(k.root) + "/autostart/" + name + ".desktop";
}

long FileRegistry::QueryValueEx(HKEY key, const std::string& name, uint32_t* type, uint32_t* size,
                                std::string* data) {
    auto it = open_.find(key);
    if (it == open_.end()) return ERROR_INVALID_HANDLE;
    const OpenKey& k = it->second;
    if (!k.redirected) return QueryIn(k, name, type, size, data);
    // The user's own value first, then the machine-wide one.
    long rc = QueryIn(UserView(k), name, type, size, data);
    return rc == ERROR_FILE_NOT_FOUND
               ? QueryIn(OpenKey{k.root, k.path, false}, name, type, size, data)
               : rc;
}

long FileRegistry::QueryIn(const OpenKey& k, const std::string& name, uint32_t* type,
                           uint32_t* size, std::string* data) const {
    if (IsRunKey(k) && name.find('/') == std::string::npos && !name.empty()) {
        std::string text;
        bool exists = false;
        if (ReadWholeFile(AutostartFile(k, name), &text, &exists) && exists) {
            std::string exec, value;
            bool have_value = false;
            size_t at = 0;
            while (at < text.size()) {
                size_t e = text.find('\n', at);
                if (e == std::string::npos) e = text.size();
                std::string line = text.substr(at, e - at);
                if (StartsWith(line, "X-Quorvane-Run-Value=")) {
                    value = UnescapeDesktop(line.substr(21));
                    have_value = true;
                } else if (StartsWith(line, "Exec=")) {
                    exec = UnescapeDesktop(line.substr(5));
                }
                at = e + 1;
            }
            std::string bytes = (have_value ? value : exec) + '\0';
            if (type) *type = REG_SZ;
            if (size) *size = static_cast<uint32_t>(bytes.size());
            if (data) *data = bytes;
            return ERROR_SUCCESS;
        }
    }
    Store s = LoadStore(StoreFileOf(k.root));
    QJsonObject values = s.keys.value(Lower(k.path)).toObject().value("values").toObject();
    if (!values.contains(Lower(name))) return ERROR_FILE_NOT_FOUND;
    QJsonObject v = values.value(Lower(name)).toObject();
    std::string bytes = QByteArray::fromBase64(v.value("data").toString().toLatin1()).toStdString();
    if (type) *type = static_cast<uint32_t>(v.value("type").toInt());
    if (size) *size = static_cast<uint32_t>(bytes.size());
    if (data) *data = bytes;
    return ERROR_SUCCESS;
}

long FileRegistry::SetValueEx(HKEY key, const std::string& name, uint32_t type,
                              const std::string& data) {
    auto it = open_.find(key);
    if (it == open_.end()) return ERROR_INVALID_HANDLE;
    return SetIn(it->second.redirected ? UserView(it->second) : it->second, name, type, data);
}

long FileRegistry::SetIn(const OpenKey& k, const std::string& name, uint32_t type,
                         const std::string& data) {
    const std::string file = StoreFileOf(k.root);
    Store s = LoadStore(file);
    if (s.corrupt) return ERROR_BADDB;
    QJsonObject entry = s.keys.value(Lower(k.path)).toObject();
    QJsonObject values = entry.value("values").toObject();
    if (IsRunKey(k) && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        if (name.empty() || name.find('/') != std::string::npos) return ERROR_INVALID_PARAMETER;
        std::string value = data.substr(0, data.find('\0'));
        std::string desktop =
            "[Desktop Entry]\nType=Application\nName=" + EscapeDesktop(name) +
            "\nExec=" + DesktopExecFor(value) +
            "\nX-GNOME-Autostart-enabled=true\nX-Quorvane-Run-Value=" + EscapeDesktop(value) + "\n";
        if (!WriteAtomically(AutostartFile(k, name), desktop, 0644)) return ERROR_ACCESS_DENIED;
        if (!values.contains(Lower(name))) return ERROR_SUCCESS;
        values.remove(Lower(name));  // the entry replaces a value of another type
    } else {
        QJsonObject v;
        v.insert("name", QString::fromStdString(name));
        v.insert("type", static_cast<int>(type));
        v.insert("data", QString::fromLatin1(QByteArray::fromStdString(data).toBase64()));
        values.insert(Lower(name), v);
        if (IsRunKey(k)) unlink(AutostartFile(k, name).c_str());
    }
    entry.insert("path", QString::fromStdString(k.path));
    entry.insert("values", values);
    s.keys.insert(Lower(k.path), entry);
    return SaveStore(file, s, k.root) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

long FileRegistry::DeleteValue(HKEY key, const std::string& name) {
    auto it = open_.find(key);
    if (it == open_.end()) return ERROR_INVALID_HANDLE;
    const OpenKey& k = it->second;
    if (!k.redirected) return DeleteIn(k, name);
    // Removed where the user may; a machine-wide value stays and says why.
    long rc = DeleteIn(UserView(k), name);
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
    return QueryIn(OpenKey{k.root, k.path, false}, name, nullptr, nullptr, nullptr) == ERROR_SUCCESS
               ? ERROR_ACCESS_DENIED
               : ERROR_FILE_NOT_FOUND;
}

long FileRegistry::DeleteIn(const OpenKey& k, const std::string& name) {
    if (IsRunKey(k) && !name.empty() && name.find('/') == std::string::npos) {
        std::string file = AutostartFile(k, name);
        if (access(file.c_str(), F_OK) == 0)
            return unlink(file.c_str()) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    const std::string file = StoreFileOf(k.root);
    Store s = LoadStore(file);
    if (s.corrupt) return ERROR_BADDB;
    QJsonObject entry = s.keys.value(Lower(k.path)).toObject();
    QJsonObject values = entry.value("values").toObject();
    if (!values.contains(Lower(name))) return ERROR_FILE_NOT_FOUND;
    values.remove(Lower(name));
    entry.insert("values", values);
    s.keys.insert(Lower(k.path), entry);
    return SaveStore(file, s, k.root) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

long FileRegistry::CloseKey(HKEY key) {
    return open_.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace qv
