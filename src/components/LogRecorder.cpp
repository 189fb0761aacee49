#include "components/LogRecorder.h"

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Platform.h"

namespace qv {

TLogRecorder::TLogRecorder(TComponent* owner)
    : TComponent(owner), file_name_head_("LOG"), mode_(TFileNameMode::mYYMMDD) {}

void TLogRecorder::SetFileName(std::string v) {
    file_name_ = std::move(v);
    mode_ = TFileNameMode::mCust;
    file_name_head_.clear();
}

void TLogRecorder::SetFileNameHead(std::string v) {
    file_name_head_ = std::move(v);
    file_name_.clear();
    if (mode_ == TFileNameMode::mCust) mode_ = TFileNameMode::mYYMMDD;
}

void TLogRecorder::SetFileNameMode(TFileNameMode v) {
    mode_ = v;
    if (mode_ == TFileNameMode::mCust)
        file_name_head_.clear();
    else
        file_name_.clear();
}

std::string TLogRecorder::PadNumber(int number, int width) {
    std::string s = std::to_string(number);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return s;
}

std::string TLogRecorder::LogFileName() const {
    std::string name = directory_;
    if (!name.empty() && name.back() != '/') name += '/';
    if (mode_ == TFileNameMode::mCust) {
        name += file_name_;
    } else {
        name += file_name_head_;
        LocalTime t = Clock().Now();
        std::string date = PadNumber(t.year, 4) + PadNumber(t.month, 2) + PadNumber(t.day, 2);
        name += mode_ == TFileNameMode::mYYMM ? date.substr(2, 4) : date.substr(2, 6);
    }
    if (!ext_.empty()) name += "." + ext_;
    return name;
}

bool TLogRecorder::WriteMessage(const std::string& msg) {
    std::string file = LogFileName();
    std::string line = msg;
    bool cancel = false;
    if (OnWriteMessage) OnWriteMessage(this, file, line, cancel);
    if (cancel) return false;
    // One append of the whole line, so copies writing the same file never interleave halves.
    return AppendToFile(file, line + "\r\n", 0644);
}

}  // namespace qv
