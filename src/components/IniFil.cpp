#include "components/IniFil.h"

#include "platform/Application.h"
#include "platform/Exception.h"
#include "platform/Platform.h"
#include "platform/Profile.h"
#include "platform/Strings.h"

namespace qv {

bool TVariant::ToBool() const {
    if (IsBool()) return std::get<bool>(v_);
    if (IsInt()) return std::get<int32_t>(v_) != 0;
    if (IsString()) {
        const std::string& s = std::get<std::string>(v_);
        std::string lower = LowerAscii(Trim(s));
        if (lower == "true") return true;
        if (lower == "false") return false;
        return StrToInt(s) != 0;
    }
    return false;
}

int32_t TVariant::ToInt() const {
    if (IsInt()) return std::get<int32_t>(v_);
    if (IsBool()) return std::get<bool>(v_) ? -1 : 0;
    if (IsString()) return StrToInt(std::get<std::string>(v_));
    return 0;
}

std::string TVariant::ToString() const {
    if (IsString()) return std::get<std::string>(v_);
    if (IsInt()) return std::to_string(std::get<int32_t>(v_));
    if (IsBool()) return std::get<bool>(v_) ? "True" : "False";
    return "";
}

bool TIni::OpenFile() {
    if (file_name_.empty() || section_.empty()) {
        // Said in a message box where there is a window; the service has none to say it in.
        if (HasApplication()) Application().MessageBox("FileName or Section 參數錯誤");
        return false;
    }
    // Linux file names are case-sensitive, so the caller's spelling is kept; only the
    // extension test ignores case.
    if (UpperAscii(file_name_).find(".INI") == std::string::npos) file_name_ += ".INI";
    return true;
}

bool TIni::Read() {
    if (!OpenFile()) return false;
    IProfileFiles& files = ProfileFiles();
    bool found = true;
    switch (data_type_) {
        case TiniType::DsBoolean:
            value_ = files.ReadInteger(file_name_, section_, ident_, 0) != 0;
            break;
        case TiniType::DsInteger: {
            int32_t n = files.ReadInteger(file_name_, section_, ident_, kMissingInteger);
            value_ = n;
            found = n != kMissingInteger;
            break;
        }
        case TiniType::DsString: {
            std::string s = files.ReadString(file_name_, section_, ident_, kMissingString);
            found = s != kMissingString;
            value_ = std::move(s);
            break;
        }
    }
    files.Flush(file_name_);
    return found;
}

bool TIni::Write() {
    if (!OpenFile()) return false;
    IProfileFiles& files = ProfileFiles();
    bool ok = true;
    try {
        std::string text;
        switch (data_type_) {
            case TiniType::DsBoolean:
                text = value_.ToBool() ? "1" : "0";
                break;
            case TiniType::DsInteger:
                text = std::to_string(value_.ToInt());
                break;
            case TiniType::DsString:
                text = value_.ToString();
                break;
        }
        if (updating_) {
            if (!pending_.empty() &&
                (file_name_ != pending_file_ || section_ != pending_section_)) {
                EndUpdate();  // another file or section: what was gathered goes first
                BeginUpdate();
            }
            pending_file_ = file_name_;
            pending_section_ = section_;
            pending_.emplace_back(ident_, std::move(text));
            return true;
        }
        ok = files.WriteString(file_name_, section_, ident_, text);
    } catch (const std::exception&) {
        ok = false;
    }
    files.Flush(file_name_);
    return ok;
}

void TIni::BeginUpdate() {
    updating_ = true;
}

bool TIni::EndUpdate() {
    updating_ = false;
    if (pending_.empty()) return true;
    IProfileFiles& files = ProfileFiles();
    const bool ok = files.WriteStrings(pending_file_, pending_section_, pending_);
    files.Flush(pending_file_);
    pending_.clear();
    return ok;
}

}  // namespace qv
