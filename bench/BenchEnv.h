#pragma once
// The state file that scripts/firebird-server.sh writes: password and paths of the test server.
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

inline std::map<std::string, std::string> ReadServerEnv() {
    std::map<std::string, std::string> kv;
    const char* p = std::getenv("QV_FB_ENV");
    std::ifstream in(p ? p : "/var/lib/quorvane-fb/env");
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string v = line.substr(eq + 1);
        if (v.size() >= 2 && v.front() == '\'') v = v.substr(1, v.size() - 2);
        kv[line.substr(0, eq)] = v;
    }
    return kv;
}
