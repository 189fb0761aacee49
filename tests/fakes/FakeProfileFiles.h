#pragma once
// Profile files kept in memory, with the same text rules as the Linux layer and a switch that
// makes every write fail.
#include <map>
#include <string>

#include "ProfileFile.h"

namespace qv {

class FakeProfileFiles : public IProfileFiles {
public:
    std::map<std::string, std::string> files;  // path -> text
    bool fail_writes = false;
    int flushes = 0;

    std::string ReadString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& def) override {
        auto it = files.find(file);
        std::string value;
        if (it == files.end() || !ini::Find(it->second, section, key, &value)) value = def;
        return value.substr(0, ProfileFile::kMaxValueBytes);
    }
    bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& value) override {
        if (fail_writes) return false;
        std::string out;
        if (!ini::Set(files[file], section, key, value, &out)) return false;
        files[file] = out;
        return true;
    }
    void Flush(const std::string&) override { ++flushes; }
};

}  // namespace qv
