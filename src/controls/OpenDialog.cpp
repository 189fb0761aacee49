#include "OpenDialog.h"

#include <QFileDialog>

namespace qv {

std::string TOpenDialog::QtFilter(const std::string& filter) {
    std::string out;
    size_t at = 0;
    while (at < filter.size()) {
        size_t bar = filter.find('|', at);
        if (bar == std::string::npos) break;
        size_t end = filter.find('|', bar + 1);
        if (end == std::string::npos) end = filter.size();
        std::string patterns = filter.substr(bar + 1, end - bar - 1);
        for (char& c : patterns)
            if (c == ';') c = ' ';
        if (!out.empty()) out += ";;";
        out += filter.substr(at, bar - at) + " (" + patterns + ")";
        at = end + 1;
    }
    return out;
}

bool TOpenDialog::Execute() {
    std::string chosen =
        Run ? Run(Title, QtFilter(Filter), FileName)
            : QFileDialog::getOpenFileName(nullptr, QString::fromStdString(Title),
                                           QString::fromStdString(FileName),
                                           QString::fromStdString(QtFilter(Filter)))
                  .toStdString();
    if (chosen.empty()) return false;
    FileName = chosen;
    return true;
}

std::string DirectoryOfFile(const std::string& file) {
    size_t slash = file.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace qv
