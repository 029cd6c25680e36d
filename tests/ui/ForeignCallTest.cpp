// The fault frame around foreign code: what the program is left with after
// the code in it faulted or changed the processor's state.
#include "ui/ForeignCall.h"

#include <gtest/gtest.h>
#include <intrin.h>

using ui::EForeignFault;
using ui::ForeignCall;

namespace {

struct FloatState {
    WORD control;
    WORD tags;
    DWORD mxcsr;
};

const bool hasSse = ::IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0;

FloatState ReadFloatState() {
    struct {
        DWORD control, status, tags, pointers[4];
    } env;
    // fnstenv masks every exception: fldenv puts the state back as it was.
    asm volatile("fnstenv %0\n\tfldenv %0" : "+m"(env));
    FloatState state{static_cast<WORD>(env.control), static_cast<WORD>(env.tags), 0};
    if (hasSse) asm volatile("stmxcsr %0" : "=m"(state.mxcsr));
    return state;
}

// Truncating, 24-bit precision; SSE: flush to zero, denormals as zero,
// rounding up. All exceptions stay masked: only the words are odd.
void SetOddFloatControl() {
    const WORD x87 = 0x0C3F;
    const DWORD mxcsr = 0xDFC0;
    asm volatile("fldcw %0" : : "m"(x87));
    if (hasSse) asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

void Fault() {
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
}

// A frame of the foreign code's own, as its __try blocks register them.
struct Registration {
    EXCEPTION_REGISTRATION_RECORD record;
    int* calls;
};

EXCEPTION_DISPOSITION __cdecl CountUnwinds(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
    if (record->ExceptionFlags & EXCEPTION_UNWINDING) ++*static_cast<Registration*>(frame)->calls;
    return ExceptionContinueSearch;
}

// As a debugger does: continues what it is shown.
EXCEPTION_DISPOSITION __cdecl ContinueAll(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    ++*static_cast<Registration*>(frame)->calls;
    return ExceptionContinueExecution;
}

class ScopedRegistration {
public:
    ScopedRegistration(EXCEPTION_DISPOSITION(__cdecl* handler)(EXCEPTION_RECORD*, void*, CONTEXT*, void*),
                       int* calls) {
        frame_.record.Next = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0));
        frame_.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(handler);
        frame_.calls = calls;
        __writefsdword(0, reinterpret_cast<DWORD>(&frame_.record));
    }
    ~ScopedRegistration() { __writefsdword(0, reinterpret_cast<DWORD>(frame_.record.Next)); }
    ScopedRegistration(const ScopedRegistration&) = delete;
    ScopedRegistration& operator=(const ScopedRegistration&) = delete;

private:
    Registration frame_;
};

volatile bool deeper = true;

__attribute__((noinline)) void Recurse(volatile char* outer) {
    volatile char block[512];
    block[0] = static_cast<char>(outer[0] + 1);
    if (deeper) Recurse(block);
    // Keeps the frame alive across the call.
    block[1] = block[0];
}

}  // namespace

TEST(ForeignCall, FaultLeavesTheFloatingPointStateAsBeforeTheCall) {
    const FloatState before = ReadFloatState();
    EXPECT_THROW(ForeignCall([] {
                     SetOddFloatControl();
                     // Values left on the x87 register stack.
                     asm volatile("fld1\n\tfld1\n\tfld1");
                     Fault();
                 }),
                 EForeignFault);
    const FloatState after = ReadFloatState();
    EXPECT_EQ(before.control, after.control);
    EXPECT_EQ(before.mxcsr, after.mxcsr);
    EXPECT_EQ(0xFFFF, after.tags) << "the x87 register stack is empty";
}

TEST(ForeignCall, ControlWordsChangedByACallAreGivenBack) {
    const FloatState before = ReadFloatState();
    ForeignCall([] { SetOddFloatControl(); });
    const FloatState after = ReadFloatState();
    EXPECT_EQ(before.control, after.control);
    EXPECT_EQ(before.mxcsr, after.mxcsr);
}

TEST(ForeignCall, HandlersOfTheFaultingCodeSeeTheUnwind) {
    const DWORD chain = __readfsdword(0);
    int unwinds = 0;
    EXPECT_THROW(ForeignCall([&] {
                     Registration own{{reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0)),
                                       reinterpret_cast<PEXCEPTION_ROUTINE>(CountUnwinds)},
                                      &unwinds};
                     __writefsdword(0, reinterpret_cast<DWORD>(&own.record));
                     Fault();
                 }),
                 EForeignFault);
    EXPECT_EQ(1, unwinds);
    EXPECT_EQ(chain, __readfsdword(0));
}

TEST(ForeignCall, NotesPassOnAndAnotherCompilersCppExceptionIsAFault) {
    int continued = 0;
    ScopedRegistration debugger(ContinueAll, &continued);
    EXPECT_NO_THROW(ForeignCall([] {
        static const char text[] = "note\n";
        const ULONG_PTR output[] = {sizeof text, reinterpret_cast<ULONG_PTR>(text)};
        ::RaiseException(DBG_PRINTEXCEPTION_C, 0, 2, output);
        static const wchar_t wide[] = L"note\n";
        const ULONG_PTR wideOutput[] = {sizeof wide / sizeof *wide, reinterpret_cast<ULONG_PTR>(wide)};
        ::RaiseException(DBG_PRINTEXCEPTION_WIDE_C, 0, 2, wideOutput);
    }));
    EXPECT_EQ(2, continued);
    try {
        ForeignCall([] { ::RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr); });
        ADD_FAILURE() << "no fault";
    } catch (const EForeignFault& fault) {
        EXPECT_EQ(0xE06D7363u, fault.Code);
    }
    EXPECT_EQ(2, continued);
}

TEST(ForeignCall, StackOverflowIsRecoveredAgainAndAgain) {
    for (int round = 0; round < 2; ++round) {
        try {
            ForeignCall([] {
                volatile char first = 0;
                Recurse(&first);
            });
            ADD_FAILURE() << "no fault";
        } catch (const EForeignFault& fault) {
            EXPECT_EQ(EXCEPTION_STACK_OVERFLOW, fault.Code) << round;
        }
    }
    EXPECT_FALSE(ui::ForeignCallsStopped());
}
