// The program's error types: one English message, and for OLE failures the
// HRESULT as well. Messages are UTF-8, so that the paths they name arrive
// whole whatever the code page.
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

// Text as messages name it, a path say: in double quotes.
std::string Quoted(const std::wstring& text);

// The system's text for a status, without the trailing line break.
std::string SysErrorMessage(DWORD code);

// Raises EOleSysError for a failing status. The message says what failed
// (a sentence without its full stop: "Cannot load ..."), then gives the
// error information the callee set, else the system's text for the status.
HRESULT OleCheck(HRESULT hr, const std::string& what);

// Raises an Exception with the system's text for the last Win32 error.
[[noreturn]] void RaiseLastOSError();

}  // namespace ui
