#pragma once
// Opening a document or starting a program with the desktop's default action.
#include <functional>
#include <string>
#include <vector>

namespace qv {

// Windows-style results: above 32 the request was accepted; 32 and below are error codes.
constexpr int SE_ERR_FNF = 2;  // file not found
constexpr int SE_ERR_PNF = 3;  // path not found
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_NOASSOC = 31;  // nothing opens this kind of file
constexpr int kShellAccepted = 42;

class IShellLauncher {
public:
    virtual ~IShellLauncher() = default;
    // file: document or program; parameters: a program's command line (split into an argument
    // list, never run through a shell); directory: the working directory of what starts.
    virtual int ShellExecute(const std::string& file, const std::string& parameters,
                             const std::string& directory, int show_command) = 0;
};

// Linux: an executable file that is a program (ELF or "#!") starts directly, a relative name
// resolved in the working directory; anything else goes to xdg-open as an absolute path.
class XdgShellLauncher : public IShellLauncher {
public:
    // Starts a detached process; false when it could not be started.
    using Starter =
        std::function<bool(const std::string& program, const std::vector<std::string>& args,
                           const std::string& directory)>;
    explicit XdgShellLauncher(Starter starter = {});
    int ShellExecute(const std::string& file, const std::string& parameters,
                     const std::string& directory, int show_command) override;

private:
    Starter starter_;
};

// Splits a command line into arguments the way a shell would quote them ("a b" 'c d' e\ f),
// without expanding anything.
std::vector<std::string> SplitCommandLine(const std::string& line);

}  // namespace qv
