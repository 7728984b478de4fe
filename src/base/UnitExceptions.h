#pragma once
// The system's exception classes: every failure carries a message and the class name that logs show.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string FMessage;
};

#define KOVA_DECLARE_EXCEPTION(Name, Base)                                                                   \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
        const char* ClassName() const noexcept override { return #Name; }                                    \
    }

KOVA_DECLARE_EXCEPTION(EConvertError, Exception);
KOVA_DECLARE_EXCEPTION(EListError, Exception);
KOVA_DECLARE_EXCEPTION(EStreamError, Exception);
KOVA_DECLARE_EXCEPTION(EFCreateError, EStreamError);
KOVA_DECLARE_EXCEPTION(EFOpenError, EStreamError);
KOVA_DECLARE_EXCEPTION(EReadError, EStreamError);
KOVA_DECLARE_EXCEPTION(EWriteError, EStreamError);
KOVA_DECLARE_EXCEPTION(EInOutError, Exception);
KOVA_DECLARE_EXCEPTION(EThread, Exception);
KOVA_DECLARE_EXCEPTION(EAbort, Exception);

// An operating system failure with its error code (errno here).
class EOSError : public Exception {
public:
    EOSError(std::string message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    const char* ClassName() const noexcept override { return "EOSError"; }
    int ErrorCode;
};

// The class name a log line shows for any exception: ours by name, others by their demangled type.
std::string ExceptionClassName(const std::exception& e);
