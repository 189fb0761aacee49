#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Files.h"
#include "platform/Strings.h"

namespace qv {

namespace ini {
namespace {

struct Line {
    size_t begin;  // first byte of the line
    size_t end;    // one past its last byte, before the line break
    size_t next;   // first byte of the following line
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t e = i;
        while (e < text.size() && text[e] != '\n' && text[e] != '\r') ++e;
        size_t n = e;
        if (n < text.size()) {
            if (text[n] == '\r' && n + 1 < text.size() && text[n + 1] == '\n')
                n += 2;
            else
                ++n;
        }
        lines.push_back({i, e, n});
        i = n;
    }
    return lines;
}

bool IsBlankChar(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlankChar(s[b])) ++b;
    while (e > b && IsBlankChar(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
    return LowerAscii(a) == LowerAscii(b);
}

// A section header gives its name; anything else gives false.
bool SectionName(std::string_view line, std::string_view* name) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t[0] != '[') return false;
    size_t close = t.find(']');
    std::string_view inner = t.substr(1, close == std::string_view::npos ? t.npos : close - 1);
    *name = TrimBlanks(inner);
    return true;
}

// A key line gives its key and raw value; comments, blank lines and lines without "=" give false.
bool KeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t[0] == ';') return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    *key = TrimBlanks(t.substr(0, eq));
    *value = TrimBlanks(t.substr(eq + 1));
    return true;
}

std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return std::string(v.substr(1, v.size() - 2));
    return std::string(v);
}

// Locates the first section of that name: index of its header line, and of the first line of
// the next section (or the line count).
bool LocateSection(const std::vector<Line>& lines, std::string_view text, std::string_view section,
                   size_t* header, size_t* stop) {
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (!SectionName(line, &name) || !SameName(name, TrimBlanks(section))) continue;
        size_t j = i + 1;
        for (; j < lines.size(); ++j) {
            std::string_view n2;
            if (SectionName(text.substr(lines[j].begin, lines[j].end - lines[j].begin), &n2)) break;
        }
        *header = i;
        *stop = j;
        return true;
    }
    return false;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

bool Find(std::string_view text, std::string_view section, std::string_view key,
          std::string* value) {
    std::vector<Line> lines = SplitLines(text);
    size_t header = 0, stop = 0;
    if (!LocateSection(lines, text, section, &header, &stop)) return false;
    std::string_view wanted = TrimBlanks(key);
    for (size_t i = header + 1; i < stop; ++i) {
        std::string_view k, v;
        if (!KeyLine(text.substr(lines[i].begin, lines[i].end - lines[i].begin), &k, &v)) continue;
        if (!SameName(k, wanted)) continue;
        *value = Unquote(v);
        return true;
    }
    return false;
}

std::string EncodeValue(std::string_view value) {
    bool edge_blank = !value.empty() && (IsBlankChar(value.front()) || IsBlankChar(value.back()));
    bool looks_quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (edge_blank || looks_quoted) return "\"" + std::string(value) + "\"";
    return std::string(value);
}

bool Set(std::string_view text, std::string_view section, std::string_view key,
         std::string_view value, std::string* out) {
    std::string_view sec = TrimBlanks(section), k = TrimBlanks(key);
    if (HasLineBreak(value) || HasLineBreak(sec) || HasLineBreak(k)) return false;
    if (sec.empty() || sec.find(']') != sec.npos || k.empty() || k.find('=') != k.npos ||
        k[0] == ';' || k[0] == '[')
        return false;
    const std::string entry = std::string(k) + "=" + EncodeValue(value) + "\r\n";
    std::vector<Line> lines = SplitLines(text);
    size_t header = 0, stop = 0;
    std::string result;
    auto terminated = [&](size_t upto) {
        // The text up to `upto`, with a line break added when the last line has none.
        std::string head(text.substr(0, upto));
        if (!head.empty() && head.back() != '\n' && head.back() != '\r') head += "\r\n";
        return head;
    };
    if (!LocateSection(lines, text, section, &header, &stop)) {
        result = terminated(text.size()) + "[" + std::string(sec) + "]\r\n" + entry;
    } else {
        size_t last = header;  // the last non-blank line of the section
        for (size_t i = header + 1; i < stop; ++i) {
            std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
            std::string_view kk, vv;
            if (KeyLine(line, &kk, &vv) && SameName(kk, k)) {
                result = std::string(text.substr(0, lines[i].begin)) + entry +
                         std::string(text.substr(lines[i].next));
                *out = std::move(result);
                return true;
            }
            if (!TrimBlanks(line).empty()) last = i;
        }
        size_t at = lines[last].next;
        result = terminated(at) + entry + std::string(text.substr(at));
    }
    *out = std::move(result);
    return true;
}

}  // namespace ini

namespace {

constexpr mode_t kOthersRead = S_IRGRP | S_IROTH;

// Some editors save a UTF-8 file with a byte-order mark: it is not part of the first line.
std::string WithoutByteOrderMark(std::string text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    return text;
}

}  // namespace

bool ProfileFile::ReadText(const std::string& file, std::string* text) {
    if (held_ && held_->first == file) {
        *text = held_->second;
        return true;
    }
    bool exists = false;
    if (!ReadWholeFile(file, text, &exists) || !exists) return false;
    *text = WithoutByteOrderMark(std::move(*text));
    if (holding_ > 0) held_.emplace(file, *text);
    return true;
}

void ProfileFile::HoldReads(bool hold) {
    holding_ += hold ? 1 : -1;
    if (holding_ <= 0) {
        holding_ = 0;
        held_.reset();
    }
}

std::string ProfileFile::ReadString(const std::string& file, const std::string& section,
                                    const std::string& key, const std::string& def) {
    std::string text, value;
    if (!ReadText(file, &text) || !ini::Find(text, section, key, &value)) value = def;
    return CutUtf8(value, kMaxValueBytes);
}

bool ProfileFile::WriteString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& value) {
    return WriteStrings(file, section, {{key, value}});
}

bool ProfileFile::WriteStrings(const std::string& file, const std::string& section,
                               const ProfileEntries& entries) {
    // Root may run a user's copy: a link planted beside it must not send root's write elsewhere.
    if (IsSymbolicLink(file)) return false;
    std::string text;
    bool exists = false;
    if (!ReadWholeFile(file, &text, &exists)) return false;
    if (exists && access(file.c_str(), W_OK) != 0) return false;  // a read-only file stays so
    held_.reset();
    std::string updated = WithoutByteOrderMark(text);  // written back without one
    bool all = true;
    for (const auto& [key, value] : entries) {
        std::string next;
        if (ini::Set(updated, section, key, value, &next))
            updated = std::move(next);
        else
            all = false;
    }
    if (updated == text) {
        // The file holds the service password: created owner-only, and one that others may
        // read (a copy, an editor's default) loses their read bits at the next write.
        struct stat st {};
        if (exists && lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_mode & kOthersRead) != 0)
            chmod(file.c_str(), st.st_mode & 07777 & ~kOthersRead);
        return all;
    }
    return ReplaceFileAtomically(file, updated, 0600, kOthersRead) && all;
}

}  // namespace qv
