#pragma once
// The Linux profile files: read the way the Windows profile functions read a hand-edited file,
// written in place with every other byte kept, replaced atomically (temporary file + rename).
// A settings file that is a symbolic link is read but never written.
#include <optional>
#include <string>
#include <utility>
#include <string_view>

#include "platform/Profile.h"

namespace qv {

// Pure text operations, so the rules can be tested and fuzzed without files.
namespace ini {
// The value of key in section (first matching section, first matching key), unquoted and
// trimmed; false when either is missing.
bool Find(std::string_view text, std::string_view section, std::string_view key,
          std::string* value);
// The file text after setting key=value in section; false when the value cannot be stored
// (a line break in it, or a section or key name that the format cannot hold).
bool Set(std::string_view text, std::string_view section, std::string_view key,
         std::string_view value, std::string* out);
// How a value is written so that it reads back exactly.
std::string EncodeValue(std::string_view value);
}  // namespace ini

class ProfileFile : public IProfileFiles {
public:
    std::string ReadString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& def) override;
    bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& value) override;
    bool WriteStrings(const std::string& file, const std::string& section,
                      const ProfileEntries& entries) override;
    void Flush(const std::string&) override {}  // nothing is cached: every write is on disk
    void HoldReads(bool hold) override;

    // Maximum bytes a read hands back (the 2048-byte buffer of the original functions).
    static constexpr size_t kMaxValueBytes = 2047;

private:
    // The file's text, without a byte-order mark; false when it cannot be read or is missing.
    bool ReadText(const std::string& file, std::string* text);

    int holding_ = 0;                                          // nested holds
    std::optional<std::pair<std::string, std::string>> held_;  // file, text
};

}  // namespace qv
