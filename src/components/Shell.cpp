#include "components/Shell.h"

#include "platform/Platform.h"
#include "platform/ShellLauncher.h"

namespace qv {

int ShowCommandOf(TShowCmd cmd) {
    static const int kCommands[] = {0, 3, 6, 9, 5, 10, 3, 2, 7, 8, 4, 1};
    return kCommands[static_cast<int>(cmd)];
}

bool TShell::Execute() {
    last_result_ = 0;
    last_result_ =
        ShellLauncher().ShellExecute(file_name_, parameter_, directory_, ShowCommandOf(show_cmd_));
    return last_result_ > 32;
}

}  // namespace qv
