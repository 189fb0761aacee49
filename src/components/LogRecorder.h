#pragma once
// TLogRecorder: appends one line per call to a fixed or dated log file.
#include <functional>
#include <string>

#include "platform/Component.h"

namespace qv {

enum class TFileNameMode { mYYMM = 0, mYYMMDD = 1, mCust = 2 };

class TLogRecorder;
// (Sender, in-out FileName, in-out Msg, in-out Cancel)
using TWriteMessageEvent = std::function<void(TLogRecorder* sender, std::string& file_name,
                                              std::string& msg, bool& cancel)>;

class TLogRecorder : public TComponent {
public:
    explicit TLogRecorder(TComponent* owner);

    const std::string& Directory() const { return directory_; }
    void SetDirectory(std::string v) { directory_ = std::move(v); }
    const std::string& FileName() const { return file_name_; }
    void SetFileName(std::string v);
    const std::string& FileNameHead() const { return file_name_head_; }
    void SetFileNameHead(std::string v);
    TFileNameMode FileNameMode() const { return mode_; }
    void SetFileNameMode(TFileNameMode v);
    const std::string& FileExtName() const { return ext_; }
    void SetFileExtName(std::string v) { ext_ = std::move(v); }

    TWriteMessageEvent OnWriteMessage;
    TWriteMessageEvent OnWriteString;  // kept with the layout; nothing raises it

    // Appends Msg and CR LF; true when the line was written. Never creates a folder.
    bool WriteMessage(const std::string& msg);
    // The file the next line goes to (formed anew on every call, from today's date).
    std::string LogFileName() const;

    static std::string PadNumber(int number, int width);

private:
    std::string directory_;
    std::string file_name_;
    std::string file_name_head_;
    TFileNameMode mode_;
    std::string ext_;
};

}  // namespace qv
