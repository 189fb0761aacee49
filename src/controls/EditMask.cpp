#include "controls/EditMask.h"

namespace qv {

namespace {
// VCL input characters and their Qt equivalents.
char QtCode(char vcl, bool* required) {
    switch (vcl) {
        case '0':
            *required = true;
            return '9';
        case '9':
            *required = false;
            return '0';
        case '#':
            *required = false;
            return '#';
        case 'L':
            *required = true;
            return 'A';
        case 'l':
            *required = false;
            return 'a';
        case 'A':
            *required = true;
            return 'N';
        case 'a':
            *required = false;
            return 'n';
        case 'C':
            *required = true;
            return 'X';
        case 'c':
            *required = false;
            return 'x';
        default:
            return 0;
    }
}
bool QtSpecial(char c) {
    return std::string("AaNnXx90Dd#HhBb><!\\[]{}").find(c) != std::string::npos;
}
}  // namespace

EditMask::EditMask(const std::string& vcl_mask) {
    std::string mask = vcl_mask;
    // Trailing fields: ";save literals;blank character".
    size_t semi = mask.find(';');
    std::string rest;
    if (semi != std::string::npos) {
        rest = mask.substr(semi + 1);
        mask.resize(semi);
        size_t semi2 = rest.find(';');
        std::string save = rest.substr(0, semi2);
        save_literals_ = !(save == "0");
        if (semi2 != std::string::npos && semi2 + 1 < rest.size()) blank_ = rest[semi2 + 1];
    }
    for (size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        if (c == '!') {
            leading_blanks_ = true;
            continue;
        }
        if (c == '>' || c == '<') {
            qt_codes_.push_back(c);
            continue;
        }
        if (c == '\\' && i + 1 < mask.size()) {
            positions_.push_back({false, false, mask[++i]});
            qt_codes_.push_back(1);  // marks a literal
            continue;
        }
        bool required = false;
        if (QtCode(c, &required)) {
            positions_.push_back({true, required, 0});
            qt_codes_.push_back(QtCode(c, &required));
        } else {
            positions_.push_back({false, false, c});
            qt_codes_.push_back(1);
        }
    }
}

std::string EditMask::QtMask() const {
    if (positions_.empty()) return "";
    std::string out;
    size_t p = 0;
    for (char code : qt_codes_) {
        if (code == '>' || code == '<') {
            out += code;
        } else if (code == 1) {
            char lit = positions_[p++].literal;
            if (QtSpecial(lit)) out += '\\';
            out += lit;
        } else {
            out += code;
            ++p;
        }
    }
    out += ';';
    out += blank_;
    return out;
}

std::string EditMask::TextFromDisplay(const std::string& display) const {
    if (positions_.empty()) return display;
    std::string text;
    for (size_t i = 0; i < positions_.size() && i < display.size(); ++i) {
        const Position& p = positions_[i];
        if (p.input) {
            if (display[i] != blank_ && display[i] != ' ') text += display[i];
        } else if (save_literals_) {
            text += display[i];
        }
    }
    return text;
}

std::string EditMask::DisplayFromText(const std::string& text) const {
    if (positions_.empty()) return text;
    std::string chars = text;
    if (save_literals_) {
        chars.clear();
        for (size_t i = 0; i < text.size(); ++i) {
            if (i < positions_.size() && !positions_[i].input) continue;
            chars += text[i];
        }
    }
    size_t inputs = 0;
    for (const Position& p : positions_) inputs += p.input;
    if (chars.size() > inputs) chars.resize(inputs);
    size_t skip = leading_blanks_ ? inputs - chars.size() : 0;  // blanks in front
    std::string display;
    size_t n = 0, used = 0;
    for (const Position& p : positions_) {
        if (!p.input) {
            display += p.literal;
            continue;
        }
        if (n++ < skip || used >= chars.size())
            display += blank_;
        else
            display += chars[used++];
    }
    return display;
}

}  // namespace qv
