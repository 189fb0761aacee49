#pragma once
// The registry: keys under predefined roots, holding named values of a type. The calls and
// their results are those of the Windows registry functions the components rely on.
#include <cstdint>
#include <string>

namespace qv {

using HKEY = uint32_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
constexpr HKEY HKEY_USERS = 0x80000003;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
constexpr HKEY HKEY_DYN_DATA = 0x80000006;

constexpr uint32_t REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4;

constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_INVALID_PARAMETER = 87;
constexpr long ERROR_BAD_PATHNAME = 161;
constexpr long ERROR_BADDB = 1009;  // the store file is corrupted

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // Opens the key, creating it and any missing keys above it (full access).
    virtual long CreateKeyEx(HKEY root, const std::string& path, HKEY* key) = 0;
    // Opens an existing key (full access); an empty path opens the root itself.
    virtual long OpenKeyEx(HKEY root, const std::string& path, HKEY* key) = 0;
    // Type and size of a value; with data non-null, also its bytes.
    virtual long QueryValueEx(HKEY key, const std::string& name, uint32_t* type, uint32_t* size,
                              std::string* data) = 0;
    virtual long SetValueEx(HKEY key, const std::string& name, uint32_t type,
                            const std::string& data) = 0;
    virtual long DeleteValue(HKEY key, const std::string& name) = 0;
    virtual long CloseKey(HKEY key) = 0;
};

}  // namespace qv
