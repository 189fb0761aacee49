// libFuzzer target: the profile (INI) text rules. Whatever the file holds, reading never
// crashes, and a value that Set accepts reads back exactly, with every other key unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ProfileFile.h"
#include "platform/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    // Input: file text, then section, key and value separated by NUL bytes.
    std::string parts[4];
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? in.find('\0', at) : in.size();
        if (end == std::string::npos) end = in.size();
        if (at <= in.size()) parts[i] = in.substr(at, end - at);
        at = end + 1;
    }
    const std::string& text = parts[0];
    std::string before_other, value;
    bool had_other = qv::ini::Find(text, "Other", "Key", &before_other);
    qv::ini::Find(text, parts[1], parts[2], &value);
    std::string out;
    if (qv::ini::Set(text, parts[1], parts[2], parts[3], &out)) {
        std::string back;
        if (!qv::ini::Find(out, parts[1], parts[2], &back) || back != parts[3]) std::abort();
        // Another section's key is left as it was.
        std::string after_other;
        if (had_other && qv::LowerAscii(qv::Trim(parts[1])) != "other" &&
            (!qv::ini::Find(out, "Other", "Key", &after_other) || after_other != before_other))
            std::abort();
    }
    (void)qv::ProfileTextToInt(text.substr(0, 64), -1);
    return 0;
}
