#pragma once
// Profile (INI) file functions: the four operations the settings component relies on.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// Keys and values of one section, in the order they are written.
using ProfileEntries = std::vector<std::pair<std::string, std::string>>;

class IProfileFiles {
public:
    virtual ~IProfileFiles() = default;

    // The stored text, cut to at most 2047 bytes, or `def` when the file, the section or the
    // key does not exist. A key present with an empty value gives the empty text.
    virtual std::string ReadString(const std::string& file, const std::string& section,
                                   const std::string& key, const std::string& def) = 0;
    // Creates file, section and key as needed; false when the file cannot be written.
    virtual bool WriteString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& value) = 0;
    // Several keys of one section with one write of the file: the same text as WriteString
    // for each in turn, an entry WriteString would refuse being left out; false when one was
    // left out or the file cannot be written.
    virtual bool WriteStrings(const std::string& file, const std::string& section,
                              const ProfileEntries& entries) = 0;
    // Writes any cached copy of the file to disk.
    virtual void Flush(const std::string& file) = 0;
    // While held, a file is read once and its keys are looked up in that text (a whole set of
    // settings read as one); a write ends it.
    virtual void HoldReads(bool /*hold*/) {}

    // Read text with an empty default; "0x"/"0X" followed by hex digits, or an integer with
    // leading blanks, sign and "$" hex; anything else (and a missing key) gives `def`.
    int32_t ReadInteger(const std::string& file, const std::string& section, const std::string& key,
                        int32_t def);
};

// Holds reads for its lifetime.
class ProfileReadsHeld {
public:
    explicit ProfileReadsHeld(IProfileFiles& files) : files_(files) { files_.HoldReads(true); }
    ~ProfileReadsHeld() { files_.HoldReads(false); }
    ProfileReadsHeld(const ProfileReadsHeld&) = delete;
    ProfileReadsHeld& operator=(const ProfileReadsHeld&) = delete;

private:
    IProfileFiles& files_;
};

// The integer rule of ReadInteger, on a text already read.
int32_t ProfileTextToInt(const std::string& text, int32_t def);

}  // namespace qv
