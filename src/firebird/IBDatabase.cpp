#include "firebird/IBDatabase.h"

#include <memory>

#include "firebird/ClientWorker.h"
#include "firebird/IB.h"
#include "firebird/IBHeader.h"
#include "firebird/IBIntf.h"

namespace qv {

namespace {

constexpr size_t kMaxDpbValue = 255;  // one length byte
constexpr size_t kMaxName = 32767;    // sent with a signed 16-bit length

void AppendDpbItem(std::string& block, uint8_t code, const std::string& value, const char* name) {
    if (value.size() > kMaxDpbValue) RaiseClientError(ClientErrorCode::ServiceParamTooLong, {name});
    block += static_cast<char>(code);
    block += static_cast<char>(value.size());
    block += value;
}

}  // namespace

std::string DatabaseParamBlock(const std::string& user, const std::string& password) {
    std::string block(1, static_cast<char>(isc_dpb_version1));
    AppendDpbItem(block, isc_dpb_user_name, user, "user_name");
    AppendDpbItem(block, isc_dpb_password, password, "password");
    return block;
}

void AttachAndDropDatabase(const std::string& connect, const std::string& dpb, int timeout_ms) {
    if (connect.size() > kMaxName || dpb.size() > kMaxName)
        RaiseClientError(ClientErrorCode::ServiceRequestTooLong);
    TClientWorker worker;
    // Shared with the worker: a call abandoned at its bound closes what it opened once it
    // returns.
    auto handle = std::make_shared<isc_db_handle>(0);
    auto close = [handle] {
        if (*handle) ClientLibrary::DetachDatabase(StatusVector(), handle.get());
    };
    worker.Run(
        timeout_ms,
        [handle, connect, dpb] {
            if (ClientLibrary::AttachDatabase(StatusVector(), static_cast<short>(connect.size()),
                                              connect.data(), handle.get(),
                                              static_cast<short>(dpb.size()), dpb.data()) > 0) {
                *handle = 0;
                RaiseStatusError();
            }
        },
        close);
    worker.Run(
        timeout_ms,
        [handle, close] {
            if (ClientLibrary::DropDatabase(StatusVector(), handle.get()) > 0) {
                // A database that others hold open stays; our attachment to it does not.
                const std::exception_ptr failure = StatusError();
                close();
                *handle = 0;
                std::rethrow_exception(failure);
            }
            *handle = 0;  // dropped, and detached with it
        },
        close);
}

}  // namespace qv
