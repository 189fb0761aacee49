// libFuzzer target: the attach parameter block and the backup request, through the service
// component over the client-library double. Nothing that cannot be encoded is ever sent, and
// what is sent always has the length it says.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "firebird/IB.h"
#include "firebird/IBIntf.h"
#include "firebird/IBServices.h"

namespace {

// Lives for the whole run (never destroyed: the double's own state goes first at exit).
qv::TIBBackupService& Service() {
    static qv::TIBBackupService* svc = [] {
        qv::SetClientLibraryNames({FBD_FULL_DIR "/libfbclient.so.2"});
        auto* s = new qv::TIBBackupService(nullptr);
        s->SetLoginPrompt(false);
        s->SetProtocol(qv::TProtocol::Local);
        return s;
    }();
    return *svc;
}

// Forgets the double's recorded calls, so a long run does not grow.
void ResetDouble() {
    static auto reset = reinterpret_cast<void (*)()>(
        dlsym(dlopen(FBD_FULL_DIR "/libfbclient.so.2", RTLD_NOW | RTLD_NOLOAD), "fbd_reset"));
    if (reset) reset();
}

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= s.size()) {
        size_t e = s.find('\n', at);
        if (e == std::string::npos) e = s.size();
        out.push_back(s.substr(at, e - at));
        at = e + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    size_t split = in.find('\0');
    std::string params = in.substr(0, split);
    std::string request = split == std::string::npos ? "" : in.substr(split + 1);
    qv::TIBBackupService& svc = Service();
    ResetDouble();
    if (svc.Active()) svc.SetActive(false);
    qv::TStringList list;
    list.Assign(Lines(params));
    svc.SetParams(list);
    try {
        svc.SetActive(true);
    } catch (const std::exception&) {
        return 0;
    }
    const std::string& block = svc.AttachBlock();
    if (block.size() > 65535 || block.size() < 2) std::abort();
    std::vector<std::string> files = Lines(request);
    svc.SetDatabaseName(files.empty() ? "" : files[0]);
    if (!files.empty()) files.erase(files.begin());
    qv::TStringList backup;
    backup.Assign(files);
    svc.SetBackupFile(backup);
    svc.SetVerbose(size % 2);
    svc.SetBlockingFactor(static_cast<int32_t>(size % 7) - 2);
    try {
        svc.ServiceStart();
    } catch (const std::exception&) {
    }
    if (!svc.StartParams().empty()) std::abort();  // released on every path
    return 0;
}
