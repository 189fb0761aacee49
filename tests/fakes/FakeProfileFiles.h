#pragma once
// Profile files kept in memory, with the same text rules as the Linux layer and a switch that
// makes every write fail.
#include <map>
#include <string>

#include "platform/ProfileFile.h"

namespace qv {

class FakeProfileFiles : public IProfileFiles {
public:
    std::map<std::string, std::string> files;  // path -> text
    bool fail_writes = false;
    int flushes = 0;
    int writes = 0;  // calls that write a file

    std::string ReadString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& def) override {
        auto it = files.find(file);
        std::string value;
        if (it == files.end() || !ini::Find(it->second, section, key, &value)) value = def;
        return value.substr(0, ProfileFile::kMaxValueBytes);
    }
    bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& value) override {
        return WriteStrings(file, section, {{key, value}});
    }
    bool WriteStrings(const std::string& file, const std::string& section,
                      const ProfileEntries& entries) override {
        ++writes;
        if (fail_writes) return false;
        bool all = true;
        for (const auto& [key, value] : entries) {
            std::string out;
            if (ini::Set(files[file], section, key, value, &out))
                files[file] = out;
            else
                all = false;
        }
        return all;
    }
    void Flush(const std::string&) override { ++flushes; }
};

}  // namespace qv
