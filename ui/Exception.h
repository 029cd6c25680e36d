// The program's error types: one English message, and for OLE failures the
// HRESULT as well.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace ui {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

class EOleError : public Exception {
public:
    using Exception::Exception;
};

class EOleSysError : public EOleError {
public:
    EOleSysError(const std::string& message, HRESULT code)
        : EOleError(message), ErrorCode(code) {}
    HRESULT ErrorCode;
};

// Raised by class registration; start-up drops it outside a register run.
class EOleRegistrationError : public EOleError {
public:
    using EOleError::EOleError;
};

// The system's text for a status, without the trailing line break.
std::string SysErrorMessage(DWORD code);

// Raises EOleSysError for a failing status; the message is the error
// information the callee set, else the system's text for the status.
HRESULT OleCheck(HRESULT hr);

// Raises an Exception with the system's text for the last Win32 error.
[[noreturn]] void RaiseLastOSError();

}  // namespace ui
