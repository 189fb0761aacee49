#pragma once
// The service client's exceptions, the client-error table and the routines that raise them.
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace qv {

// The framework's database error.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

class EIBError : public EDatabaseError {
public:
    EIBError(int32_t sql_code, const std::string& message)
        : EDatabaseError(message), sql_code_(sql_code) {}
    EIBError(int32_t sql_code, int32_t status_code, const std::string& message)
        : EDatabaseError(message), sql_code_(sql_code), status_code_(status_code) {}
    int32_t SqlCode() const { return sql_code_; }
    int32_t StatusCode() const { return status_code_; }

private:
    int32_t sql_code_ = 0;
    int32_t status_code_ = 0;
};

// A failure status reported by the client library.
class EIBInterBaseError : public EIBError {
public:
    using EIBError::EIBError;
};
// The same, for SQLCODE -551.
class EIBInterBaseRoleError : public EIBError {
public:
    using EIBError::EIBError;
};
// A client-side error; SqlCode holds the client-error number.
class EIBClientError : public EIBError {
public:
    using EIBError::EIBError;
};

enum class ClientErrorCode : int {
    ClientLibraryMissing = 1,
    NewerClientRequired = 3,
    OperationCancelled = 10,
    ServiceParamNotSupported = 88,
    ServiceParamUnknown = 89,
    ServiceNotAttached = 90,
    ServiceAttached = 91,
    ServerNameMissing = 92,
    StartParamsMissing = 94,
    // Beyond the numbers 0-119 of the other client components: values that cannot be encoded.
    ServiceParamTooLong = 120,
    ServiceRequestTooLong = 121,
    ServiceNoAnswer = 122,
    ServiceAnswerUnknown = 123,
};

constexpr int kClientErrorCount = 124;

// The message pattern of a client-error number ("" for numbers this client never raises).
const std::string& ClientErrorPattern(int code);

// Raises EIBInterBaseError or EIBInterBaseRoleError from the calling thread's status vector.
[[noreturn]] void RaiseStatusError();
// The same error, taken before a clean-up call overwrites the status vector, to raise after it.
std::exception_ptr StatusError();
// Raises EIBClientError with the pattern of `code`, "%s" filled from args in order.
[[noreturn]] void RaiseClientError(ClientErrorCode code, const std::vector<std::string>& args = {});

}  // namespace qv
