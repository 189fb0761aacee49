#pragma once
// The open-file dialog component: title and filter set before each use, the chosen file after.
#include <functional>
#include <string>

#include "platform/Component.h"

namespace qv {

class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* owner) : TComponent(owner) {}

    std::string Title;
    std::string Filter;  // "name|pattern[|name|pattern...]"
    std::string FileName;
    // A directory chosen as such is taken whole, as if a file inside it had been chosen:
    // FileName is then the directory followed by "/". Otherwise choosing a directory opens it.
    bool TakeDirectories = false;

    // True when the user confirmed a file name (then in FileName). Like the platform's
    // default open dialog, a typed name need not exist.
    bool Execute();
    // The filter in the toolkit's notation ("資料庫(*.gdb) (*.gdb)").
    static std::string QtFilter(const std::string& filter);

    // Shows the dialog: (title, qt filter, start file) -> chosen file, empty when cancelled.
    // Tests replace it.
    std::function<std::string(const std::string&, const std::string&, const std::string&)> Run;

private:
    std::string RunDialog() const;
};

// The directory of a chosen file without a trailing "/" (the root keeps it).
std::string DirectoryOfFile(const std::string& file);

}  // namespace qv
