#include "firebird/IB.h"

#include <array>

#include "firebird/IBIntf.h"

namespace qv {

namespace {

std::array<std::string, kClientErrorCount> BuildTable() {
    std::array<std::string, kClientErrorCount> t{};
    auto set = [&t](ClientErrorCode c, const char* text) { t[static_cast<int>(c)] = text; };
    set(ClientErrorCode::ClientLibraryMissing,
        "InterBase library gds32.dll not found in the path. Please install InterBase to use this "
        "functionality");
    set(ClientErrorCode::NewerClientRequired,
        "%s is an InterBase 6 function. Please upgrade to InterBase 6 to use this functonality");
    set(ClientErrorCode::OperationCancelled, "Operation cancelled at user's request");
    set(ClientErrorCode::ServiceParamNotSupported, "SPB Constant Not supported");
    set(ClientErrorCode::ServiceParamUnknown, "SPB Constant Unknown");
    set(ClientErrorCode::ServiceNotAttached, "Cannot perform operation -- service is not attached");
    set(ClientErrorCode::ServiceAttached, "Cannot perform operation -- service is attached");
    set(ClientErrorCode::ServerNameMissing, "Server Name Missing");
    set(ClientErrorCode::StartParamsMissing, "start Parameters missing or incorrect");
    set(ClientErrorCode::ServiceParamTooLong,
        "SPB parameter %s is longer than 255 bytes and cannot be sent");
    set(ClientErrorCode::ServiceRequestTooLong,
        "Service request is longer than 65535 bytes and cannot be sent");
    set(ClientErrorCode::ServiceNoAnswer, "The service manager did not answer within %s seconds");
    set(ClientErrorCode::ServiceAnswerUnknown, "The service manager's answer could not be read");
    return t;
}

// Filled at process start, read-only afterwards.
const std::array<std::string, kClientErrorCount> kTable = BuildTable();

}  // namespace

const std::string& ClientErrorPattern(int code) {
    static const std::string empty;
    return code >= 0 && code < kClientErrorCount ? kTable[static_cast<size_t>(code)] : empty;
}

void RaiseClientError(ClientErrorCode code, const std::vector<std::string>& args) {
    std::string message = ClientErrorPattern(static_cast<int>(code));
    size_t at = 0;
    for (const std::string& arg : args) {
        at = message.find("%s", at);
        if (at == std::string::npos) break;
        message.replace(at, 2, arg);
        at += arg.size();
    }
    throw EIBClientError(static_cast<int32_t>(code), message);
}

std::exception_ptr StatusError() {
    try {
        RaiseStatusError();
    } catch (...) {
        return std::current_exception();
    }
}

void RaiseStatusError() {
    ISC_STATUS* status = StatusVector();
    const auto status_code = static_cast<int32_t>(status[1]);
    const int32_t sql_code = ClientLibrary::SqlCode(status);

    std::string message;
    std::vector<char> buffer(20480, '\0');
    const ISC_STATUS* cursor = status;
    while (ClientLibrary::Interprete(buffer.data(), &cursor) > 0) {
        buffer.back() = '\0';
        if (!message.empty() && message.back() != '\n') message += "\r\n";
        message += buffer.data();
    }
    if (!message.empty() && message.back() == '.') message.pop_back();

    if (sql_code == -551) throw EIBInterBaseRoleError(sql_code, status_code, message);
    throw EIBInterBaseError(sql_code, status_code, message);
}

}  // namespace qv
