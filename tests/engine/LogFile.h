#pragma once
// The log PROC_LOG.TXT read back as the engine writes it: "YYYYMMDD.HHNNSS:message", CR LF after
// each line.
#include <string>
#include <vector>

#include "TestSupport.h"

namespace qv::test {

// Every line; a rest without its CR LF is marked "<unterminated>".
inline std::vector<std::string> LogLines(const std::string& file) {
    std::vector<std::string> lines;
    const std::string text = ReadFile(file);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back("<unterminated>" + text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The messages, without their date and time.
inline std::vector<std::string> LogMessages(const std::string& file) {
    std::vector<std::string> out;
    for (const std::string& l : LogLines(file)) out.push_back(l.size() > 16 ? l.substr(16) : l);
    return out;
}

}  // namespace qv::test
