#pragma once
// TRegEdit: reads, writes and deletes one named string value under a fixed registry key.
#include <cstdint>
#include <string>

#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/RegistryStore.h"

namespace qv {

enum class TRootKey { HKCR = 0, HKCU = 1, HKLM = 2, HKU = 3, HKCC = 4, HKDD = 5 };

// The registry's own error ("Failed to set data for '%s'").
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

class TRegEdit : public TComponent {
public:
    explicit TRegEdit(TComponent* owner) : TComponent(owner) {}

    uint32_t Size() const { return size_; }  // set by no operation
    const std::string& SubKey() const { return sub_key_; }
    void SetSubKey(std::string v) { sub_key_ = std::move(v); }
    TRootKey RootKey() const { return root_key_; }
    void SetRootKey(TRootKey v) { root_key_ = v; }

    // The value's text, or empty (missing, not a string, or the key cannot be opened).
    std::string ReadValue(const std::string& name);
    // Stores a REG_SZ value; false when the key cannot be opened. A store the system refuses
    // raises ERegistryException.
    bool WriteValue(const std::string& name, const std::string& value);
    // False when the key or the value is missing or the system refuses.
    bool DeleteValue(const std::string& name);

    HKEY RootKeyHandle() const;

private:
    bool OpenWithCreate(HKEY* key) const;
    bool OpenSubKey();

    uint32_t size_ = 0;
    std::string sub_key_;
    TRootKey root_key_ = TRootKey::HKLM;
    HKEY key_handle_ = 0;
};

}  // namespace qv
