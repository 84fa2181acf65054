// Exception classes shared by every layer.
#pragma once

#include <exception>
#include <string>

// Base of every error the program raises itself; Message is what the user sees.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

#define PV_DECLARE_EXCEPTION(Name, Base)                                                           \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }

// Input/output failure of a codec or a file; ErrorCode carries errno where one applies.
class EInOutError : public Exception {
public:
    explicit EInOutError(std::string message, int errorCode = 0)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

PV_DECLARE_EXCEPTION(EOutOfResources, Exception);
PV_DECLARE_EXCEPTION(EConvertError, Exception); // text is not a number, and the like
PV_DECLARE_EXCEPTION(EListError, Exception);    // list index out of bounds
PV_DECLARE_EXCEPTION(EAssignError, Exception);  // Assign from an object of the wrong kind

// Stream and file errors.
PV_DECLARE_EXCEPTION(EStreamError, Exception);
PV_DECLARE_EXCEPTION(EFOpenError, EStreamError);
PV_DECLARE_EXCEPTION(EFCreateError, EStreamError);
PV_DECLARE_EXCEPTION(EReadError, EStreamError);
PV_DECLARE_EXCEPTION(EWriteError, EStreamError);

// Raises EAssignError with the usual "Cannot assign a X to a Y" text.
[[noreturn]] void RaiseAssignError(const char* sourceClass, const char* targetClass);
// Raises EListError "List index out of bounds (n)".
[[noreturn]] void RaiseListIndexError(long long index);
