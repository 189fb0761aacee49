#include "controls/OpenDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <filesystem>

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

namespace {

// The toolkit's own dialog in any-file mode. With `take_directories`, confirming a directory
// (selected, or typed) chooses it instead of opening it, and a button chooses the directory
// shown, which may be empty; opening a directory stays a double click.
class ChooserDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    bool take_directories = false;
    QString chosen_directory;

protected:
    void accept() override {
        const QStringList files = selectedFiles();
        if (take_directories && files.size() == 1 && QFileInfo(files[0]).isDir()) {
            chosen_directory = files[0];
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
    void showEvent(QShowEvent* event) override {
        QFileDialog::showEvent(event);
        auto* buttons = findChild<QDialogButtonBox*>("buttonBox");
        if (!take_directories || !buttons || findChild<QPushButton*>("chooseDirectory")) return;
        QPushButton* here =
            buttons->addButton(QString::fromUtf8("選擇此目錄"), QDialogButtonBox::ActionRole);
        here->setObjectName("chooseDirectory");
        connect(here, &QPushButton::clicked, this, [this] {
            chosen_directory = directory().absolutePath();
            QDialog::accept();
        });
    }
};

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace

std::string TOpenDialog::RunDialog() const {
    ChooserDialog dialog(nullptr, QString::fromStdString(Title), QString::fromStdString(FileName),
                         QString::fromStdString(QtFilter(Filter)));
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // the same rules on every desktop
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.take_directories = TakeDirectories;
    if (dialog.exec() != QDialog::Accepted) return "";
    if (!dialog.chosen_directory.isEmpty()) return dialog.chosen_directory.toStdString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? "" : files.first().toStdString();
}

bool TOpenDialog::Execute() {
    std::string chosen = Run ? Run(Title, QtFilter(Filter), FileName) : RunDialog();
    if (chosen.empty()) return false;
    if (TakeDirectories && chosen.back() != '/' && IsDirectory(chosen)) chosen += '/';
    FileName = chosen;
    return true;
}

std::string DirectoryOfFile(const std::string& file) {
    size_t slash = file.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace qv
