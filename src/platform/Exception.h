#pragma once
// The framework's base exception and the few general errors the components raise.
#include <exception>
#include <string>

namespace qv {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A text that does not convert to the requested type ("'12a' is not a valid integer value").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An operating-system call failed; Code is the system's error number.
class EOSError : public Exception {
public:
    EOSError(int code, std::string message) : Exception(std::move(message)), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

}  // namespace qv
