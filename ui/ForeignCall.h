// Calls into code that is not ours (plug-ins, the objects they embed) run
// inside a structured exception frame, so that a fault in them becomes an
// error of ours instead of the end of the process and of the user's picture.
#pragma once

#include "ui/Exception.h"

#include <exception>
#include <type_traits>
#include <utility>

namespace ui {

// A fault (access violation, illegal instruction, a C++ exception of
// another compiler, ...) that foreign code did not handle itself. Once
// foreign calls are stopped its message says so too.
class EForeignFault : public Exception {
public:
    EForeignFault(DWORD code, const void* address);
    DWORD Code;
    const void* Address;
};

// Raised instead of any foreign call once a stack overflow in foreign code
// left the stack without its guard page: the next overflow would end the
// process, picture and all.
class EForeignCallsStopped : public Exception {
public:
    EForeignCallsStopped();
};

// True once foreign calls are stopped; they stay so until the program
// starts again.
bool ForeignCallsStopped() noexcept;

// "access violation at 0x6A2B1C40"
std::string FaultDescription(DWORD code, const void* address);

namespace detail {
// Runs fn(context); false, with the fault's code and address, when a
// structured exception left it. C++ exceptions must not leave fn.
bool RunInFaultFrame(void (*fn)(void*), void* context, DWORD& code, const void*& address) noexcept;
}  // namespace detail

// Runs f and gives back what it returns. A fault in it raises
// EForeignFault once the frames of the faulting code are unwound; a C++
// exception from f passes on as it is. Either way the floating-point
// control words are back as they were before the call.
template <class F>
decltype(auto) ForeignCall(F&& f) {
    if (ForeignCallsStopped()) throw EForeignCallsStopped();
    using R = std::invoke_result_t<F&>;
    struct Context {
        F* f;
        std::conditional_t<std::is_void_v<R>, char, R> result{};
        std::exception_ptr error;
    } context{&f, {}, {}};
    auto run = [](void* p) noexcept {
        auto* c = static_cast<Context*>(p);
        try {
            if constexpr (std::is_void_v<R>)
                (*c->f)();
            else
                c->result = (*c->f)();
        } catch (...) {
            c->error = std::current_exception();
        }
    };
    DWORD code = 0;
    const void* address = nullptr;
    if (!detail::RunInFaultFrame(run, &context, code, address)) throw EForeignFault(code, address);
    if (context.error) std::rethrow_exception(context.error);
    if constexpr (!std::is_void_v<R>) return R(std::move(context.result));
}

}  // namespace ui
