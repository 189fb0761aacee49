#include "platform/Profile.h"

#include "platform/Strings.h"

namespace qv {

int32_t ProfileTextToInt(const std::string& text, int32_t def) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        auto v = ParseInt32("$" + text.substr(2));
        return v ? *v : def;
    }
    auto v = ParseInt32(text);
    return v ? *v : def;
}

int32_t IProfileFiles::ReadInteger(const std::string& file, const std::string& section,
                                   const std::string& key, int32_t def) {
    return ProfileTextToInt(ReadString(file, section, key, ""), def);
}

}  // namespace qv
