#pragma once
// Records every shell request and answers with a scripted result.
#include <string>
#include <vector>

#include "platform/ShellLauncher.h"

namespace qv {

class FakeShellLauncher : public IShellLauncher {
public:
    struct Call {
        std::string file, parameters, directory;
        int show;
    };
    std::vector<Call> calls;
    int result = kShellAccepted;
    int ShellExecute(const std::string& file, const std::string& parameters,
                     const std::string& directory, int show) override {
        calls.push_back({file, parameters, directory, show});
        return result;
    }
};

}  // namespace qv
