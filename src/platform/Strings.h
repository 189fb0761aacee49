#pragma once
// Text helpers shared by the components: byte-oriented, UTF-8 passed through unconverted.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Removes blanks and control characters (<= 0x20) from both ends, as the framework's Trim does.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string LowerAscii(std::string_view s);
std::string UpperAscii(std::string_view s);
bool StartsWith(std::string_view s, std::string_view prefix);

// Parses a signed 32-bit integer the way the framework's StrToInt does: leading blanks, an
// optional sign, decimal digits or "$" followed by hex digits (hex may use all 32 bits).
std::optional<int32_t> ParseInt32(std::string_view s);
int32_t StrToInt(std::string_view s);  // raises EConvertError "'%s' is not a valid integer value"

// Cuts a UTF-8 text to at most max_bytes without splitting a character.
std::string CutUtf8(std::string_view s, size_t max_bytes);

// The leading `digits` (at most 16) lower-case hexadecimal digits of the text's 64-bit FNV-1a
// hash: the same text gives the same digits in every build, on every machine.
std::string Fnv1aHex(std::string_view s, int digits);

// A list of lines with hooks around every change, like the framework's string list.
class TStringList {
public:
    std::function<void()> OnChanging;  // may throw to refuse the change
    std::function<void()> OnChange;

    size_t Count() const { return lines_.size(); }
    const std::string& operator[](size_t i) const { return lines_.at(i); }
    const std::vector<std::string>& Lines() const { return lines_; }
    void Add(std::string line);
    void Clear();
    void Assign(const std::vector<std::string>& lines);
    void Assign(const TStringList& other) { Assign(other.lines_); }

private:
    std::vector<std::string> lines_;
};

}  // namespace qv
