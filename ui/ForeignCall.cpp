#include "ui/ForeignCall.h"

#include <intrin.h>

#include <malloc.h>

#include <cstdio>

namespace ui {

namespace {
// The frame's registration record first: the system hands the handler a
// pointer to it.
struct FaultFrame {
    EXCEPTION_REGISTRATION_RECORD registration;
    void* jump[5];
    DWORD code;
    const void* address;
};

EXCEPTION_DISPOSITION __cdecl FaultHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                           void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    auto* f = static_cast<FaultFrame*>(frame);
    f->code = record->ExceptionCode;
    f->address = record->ExceptionAddress;
    // Back into RunInFaultFrame; the faulting frames below are abandoned.
    __builtin_longjmp(f->jump, 1);
}
}  // namespace

namespace detail {
__attribute__((noinline)) bool RunInFaultFrame(void (*fn)(void*), void* context, DWORD& code,
                                               const void*& address) noexcept {
    FaultFrame frame{};
    frame.registration.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(FaultHandler);
    frame.registration.Next = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0));
    if (__builtin_setjmp(frame.jump)) {
        // The dispatcher's own records lie below us now: the chain goes on
        // from where it was before the call.
        __writefsdword(0, reinterpret_cast<DWORD>(frame.registration.Next));
        code = frame.code;
        address = frame.address;
        // The guard page the overflow used up must be there for the next one.
        if (code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
        return false;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(&frame.registration));
    fn(context);
    __writefsdword(0, reinterpret_cast<DWORD>(frame.registration.Next));
    return true;
}
}  // namespace detail

std::string FaultDescription(DWORD code, const void* address) {
    const char* name = nullptr;
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: name = "access violation"; break;
        case EXCEPTION_ILLEGAL_INSTRUCTION: name = "illegal instruction"; break;
        case EXCEPTION_PRIV_INSTRUCTION: name = "privileged instruction"; break;
        case EXCEPTION_INT_DIVIDE_BY_ZERO: name = "division by zero"; break;
        case EXCEPTION_STACK_OVERFLOW: name = "stack overflow"; break;
        case EXCEPTION_IN_PAGE_ERROR: name = "page read error"; break;
        case EXCEPTION_DATATYPE_MISALIGNMENT: name = "misaligned data"; break;
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: name = "array bounds exceeded"; break;
        default: break;
    }
    char text[96];
    if (name)
        std::snprintf(text, sizeof text, "%s at 0x%08lX", name,
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    else
        std::snprintf(text, sizeof text, "exception 0x%08lX at 0x%08lX",
                      static_cast<unsigned long>(code),
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

EForeignFault::EForeignFault(DWORD code, const void* address)
    : Exception(FaultDescription(code, address)), Code(code), Address(address) {}

}  // namespace ui
