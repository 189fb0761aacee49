#include "platform/Strings.h"

#include "platform/Exception.h"

namespace qv {

namespace {
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return std::string(s.substr(b));
}

std::string LowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string UpperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

std::optional<int32_t> ParseInt32(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    }
    if (i >= s.size()) return std::nullopt;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        int d = hex ? HexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (hex) {
        auto bits = static_cast<uint32_t>(v);
        int32_t r = static_cast<int32_t>(bits);
        return negative ? static_cast<int32_t>(0u - bits) : r;
    }
    if (negative) {
        if (v > 2147483648ull) return std::nullopt;
        return static_cast<int32_t>(-static_cast<int64_t>(v));
    }
    if (v > 2147483647ull) return std::nullopt;
    return static_cast<int32_t>(v);
}

int32_t StrToInt(std::string_view s) {
    auto v = ParseInt32(s);
    if (!v) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return *v;
}

std::string CutUtf8(std::string_view s, size_t max_bytes) {
    if (s.size() <= max_bytes) return std::string(s);
    size_t n = max_bytes;
    // Step back over continuation bytes, then drop the lead byte if its sequence is cut.
    size_t lead = n;
    while (lead > 0 && (static_cast<unsigned char>(s[lead]) & 0xC0) == 0x80) --lead;
    if (lead < n || (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) n = lead;
    return std::string(s.substr(0, n));
}

std::string Fnv1aHex(std::string_view s, int digits) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : s) hash = (hash ^ c) * 1099511628211ull;
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (int shift = 60; shift >= 0 && static_cast<int>(hex.size()) < digits; shift -= 4)
        hex += kHex[(hash >> shift) & 0xf];
    return hex;
}

void TStringList::Add(std::string line) {
    if (OnChanging) OnChanging();
    lines_.push_back(std::move(line));
    if (OnChange) OnChange();
}

void TStringList::Clear() {
    if (OnChanging) OnChanging();
    lines_.clear();
    if (OnChange) OnChange();
}

void TStringList::Assign(const std::vector<std::string>& lines) {
    if (OnChanging) OnChanging();
    lines_ = lines;
    if (OnChange) OnChange();
}

}  // namespace qv
