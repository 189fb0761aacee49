#include "components/RegEdit.h"

#include "platform/Platform.h"

namespace qv {

HKEY TRegEdit::RootKeyHandle() const {
    switch (root_key_) {
        case TRootKey::HKCR:
            return HKEY_CLASSES_ROOT;
        case TRootKey::HKCU:
            return HKEY_CURRENT_USER;
        case TRootKey::HKLM:
            return HKEY_LOCAL_MACHINE;
        case TRootKey::HKU:
            return HKEY_USERS;
        case TRootKey::HKCC:
            return HKEY_CURRENT_CONFIG;
        case TRootKey::HKDD:
            return HKEY_DYN_DATA;
    }
    return HKEY_LOCAL_MACHINE;
}

bool TRegEdit::OpenWithCreate(HKEY* key) const {
    std::string path = sub_key_;
    if (!path.empty() && path[0] == '\\') path.erase(0, 1);
    IRegistry& reg = Registry();
    long rc = path.empty() ? reg.OpenKeyEx(RootKeyHandle(), path, key)
                           : reg.CreateKeyEx(RootKeyHandle(), path, key);
    return rc == ERROR_SUCCESS;
}

std::string TRegEdit::ReadValue(const std::string& name) {
    std::string result;
    HKEY key = 0;
    if (!OpenWithCreate(&key)) return result;
    IRegistry& reg = Registry();
    uint32_t type = 0, size = 0;
    std::string data;
    if (reg.QueryValueEx(key, name, &type, &size, nullptr) == ERROR_SUCCESS && size > 0 &&
        reg.QueryValueEx(key, name, &type, &size, &data) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        result = data.substr(0, data.find('\0'));
    }
    reg.CloseKey(key);
    return result;
}

bool TRegEdit::WriteValue(const std::string& name, const std::string& value) {
    HKEY key = 0;
    if (!OpenWithCreate(&key)) return false;
    IRegistry& reg = Registry();
    long rc = reg.SetValueEx(key, name, REG_SZ, value + '\0');
    reg.CloseKey(key);
    if (rc != ERROR_SUCCESS) throw ERegistryException("Failed to set data for '" + name + "'");
    return true;
}

bool TRegEdit::OpenSubKey() {
    return Registry().OpenKeyEx(RootKeyHandle(), sub_key_, &key_handle_) == ERROR_SUCCESS;
}

bool TRegEdit::DeleteValue(const std::string& name) {
    if (!OpenSubKey()) return false;
    IRegistry& reg = Registry();
    long rc = reg.DeleteValue(key_handle_, name);
    reg.CloseKey(key_handle_);
    return rc == ERROR_SUCCESS;
}

}  // namespace qv
