#include "ui/ForeignCall.h"

#include <intrin.h>

#include <malloc.h>

#include <cstdio>

namespace ui {

namespace {
// What a call may change of the floating-point state and must give back.
struct FloatControl {
    WORD x87;
    DWORD mxcsr;
};

const bool hasSse = ::IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0;

// The frame's registration record first: the system hands the handler a
// pointer to it.
struct FaultFrame {
    EXCEPTION_REGISTRATION_RECORD registration;
    void* jump[5];
    DWORD code;
    const void* address;
    FloatControl control;
};

volatile LONG stopped = 0;

const char kStopped[] =
    "Plug-ins are turned off until Kestrix is started again: after a stack overflow in one of "
    "them, the stack could not be protected against the next one.";

// Raised by the C++ runtime of Microsoft's compiler.
constexpr DWORD kMsvcException = 0xE06D7363;
// Raised by GCC's own unwinder where it works through SEH: ours to handle.
constexpr DWORD kGccException = 0x20474343;

FloatControl SaveFloatControl() noexcept {
    FloatControl control{};
    asm volatile("fnstcw %0" : "=m"(control.x87));
    if (hasSse) asm volatile("stmxcsr %0" : "=m"(control.mxcsr));
    return control;
}

// After a fault the x87 may hold anything (a full register stack, an
// exception pending), so it starts afresh. After a normal return only the
// control words go back: they belong to the caller, and a plug-in that
// leaves floating-point exceptions unmasked (some runtimes do as they load)
// would make our own arithmetic fault later, outside any frame.
void RestoreFloatControl(const FloatControl& saved, bool fault) noexcept {
    if (fault) {
        asm volatile("fninit\n\tfldcw %0" : : "m"(saved.x87));
    } else {
        WORD x87;
        asm volatile("fnstcw %0" : "=m"(x87));
        // Flags the call left set must not go off under our control word.
        if (x87 != saved.x87) asm volatile("fnclex\n\tfldcw %0" : : "m"(saved.x87));
    }
    if (hasSse) asm volatile("ldmxcsr %0" : : "m"(saved.mxcsr));
}

// What no handler below ours took and would otherwise end the process;
// not the debugger's events, nor notes their raiser continues itself
// (debug output, thread names: informational codes).
bool IsFault(const EXCEPTION_RECORD& record) noexcept {
    if (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) return true;
    switch (record.ExceptionCode) {
        case EXCEPTION_BREAKPOINT:
        case EXCEPTION_SINGLE_STEP:
        case kGccException:
            return false;
        default:
            return (record.ExceptionCode >> 30) != 1;
    }
}

// Calls every handler registered below frame with the unwinding flag, as
// the system does when a handler takes an exception. Windows' RtlUnwind
// does not keep ebx, esi, edi and ebp for its caller.
void UnwindTo(EXCEPTION_REGISTRATION_RECORD* frame, EXCEPTION_RECORD* record) noexcept {
    void* unwind = reinterpret_cast<void*>(&::RtlUnwind);
    asm volatile(
        "pushl %%ebp\n\t"
        "pushl $0\n\t"
        "pushl %1\n\t"
        "pushl $1f\n\t"
        "pushl %0\n\t"
        "call *%2\n"
        "1:\n\t"
        "popl %%ebp"
        : "+a"(frame), "+c"(record), "+d"(unwind)
        :
        : "ebx", "esi", "edi", "memory", "cc");
}

EXCEPTION_DISPOSITION __cdecl FaultHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                           void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if (!IsFault(*record)) return ExceptionContinueSearch;
    auto* f = static_cast<FaultFrame*>(frame);
    f->code = record->ExceptionCode;
    f->address = record->ExceptionAddress;
    // The faulting code's own handlers run first: its __finally blocks, the
    // destructors of its C++, the locks they release.
    UnwindTo(&f->registration, record);
    // Back into RunInFaultFrame.
    __builtin_longjmp(f->jump, 1);
}
}  // namespace

namespace detail {
__attribute__((noinline)) bool RunInFaultFrame(void (*fn)(void*), void* context, DWORD& code,
                                               const void*& address) noexcept {
    FaultFrame frame{};
    frame.registration.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(FaultHandler);
    frame.registration.Next = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0));
    frame.control = SaveFloatControl();
    if (__builtin_setjmp(frame.jump)) {
        // The unwind left our record on top: the chain goes on from where
        // it was before the call.
        __writefsdword(0, reinterpret_cast<DWORD>(frame.registration.Next));
        RestoreFloatControl(frame.control, true);
        code = frame.code;
        address = frame.address;
        // The guard page the overflow used up must be there for the next
        // one; without it the next overflow ends the process.
        if (code == EXCEPTION_STACK_OVERFLOW && !_resetstkoflw()) ::InterlockedExchange(&stopped, 1);
        return false;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(&frame.registration));
    fn(context);
    __writefsdword(0, reinterpret_cast<DWORD>(frame.registration.Next));
    RestoreFloatControl(frame.control, false);
    return true;
}
}  // namespace detail

bool ForeignCallsStopped() noexcept {
    return stopped != 0;
}

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
        case kMsvcException: name = "C++ exception"; break;
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
    : Exception(ForeignCallsStopped() ? FaultDescription(code, address) + ". " + kStopped
                                      : FaultDescription(code, address)),
      Code(code),
      Address(address) {}

EForeignCallsStopped::EForeignCallsStopped() : Exception(kStopped) {}

}  // namespace ui
