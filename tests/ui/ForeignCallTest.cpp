// The fault frame around foreign code: the state it leaves after the code faulted.
#include "ui/ForeignCall.h"

#include <gtest/gtest.h>
#include <intrin.h>

#include <array>

using ui::EForeignFault;
using ui::ForeignCall;

namespace {
// The x87 control and tag words, and MXCSR.
std::array<DWORD, 3> FloatState() {
    DWORD env[7], mxcsr;
    // fnstenv masks every exception: fldenv puts them back.
    asm volatile("fnstenv %0\n\tfldenv %0\n\tstmxcsr %1" : "=m"(env), "=m"(mxcsr));
    return {env[0] & 0xFFFF, env[2] & 0xFFFF, mxcsr};
}

// Truncating at 24 bits; SSE flushing to zero and rounding up.
void SetOddFloatControl() {
    const WORD x87 = 0x0C3F;
    const DWORD mxcsr = 0xDFC0;
    asm volatile("fldcw %0\n\tldmxcsr %1" : : "m"(x87), "m"(mxcsr));
}

int unwinds = 0;
EXCEPTION_DISPOSITION __cdecl CountUnwinds(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
    if (record->ExceptionFlags & EXCEPTION_UNWINDING) ++unwinds;
    return ExceptionContinueSearch;
}

volatile char seed = 0;
__attribute__((noinline)) void Recurse(volatile char* outer) {
    if (!outer) return;
    volatile char block[512];
    block[0] = outer[0];
    Recurse(block);
    block[1] = 0;  // keeps the frame alive across the call
}
}  // namespace

TEST(ForeignCall, AfterAFaultTheFaultingFramesAreUnwoundAndTheFloatingPointStateIsOurs) {
    const DWORD chain = __readfsdword(0);
    const auto before = FloatState();
    ForeignCall([] { SetOddFloatControl(); });
    EXPECT_EQ(before, FloatState());
    EXPECT_THROW(ForeignCall([] {
                     // A __try block of its own, the x87 registers in use.
                     EXCEPTION_REGISTRATION_RECORD own{
                         reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0)),
                         reinterpret_cast<PEXCEPTION_ROUTINE>(CountUnwinds)};
                     __writefsdword(0, reinterpret_cast<DWORD>(&own));
                     SetOddFloatControl();
                     asm volatile("fld1\n\tfld1\n\tmovl $1, 0x10" : : : "memory");
                 }),
                 EForeignFault);
    EXPECT_EQ(1, unwinds);
    EXPECT_EQ(chain, __readfsdword(0));
    EXPECT_EQ(before, FloatState()) << "x87 registers empty, control words as before";
}

TEST(ForeignCall, StackOverflowIsRecoveredAgainAndAgain) {
    for (int round = 0; round < 2; ++round) {
        DWORD code = 0;
        try {
            ForeignCall([] { Recurse(&seed); });
        } catch (const EForeignFault& fault) {
            code = fault.Code;
        }
        EXPECT_EQ(EXCEPTION_STACK_OVERFLOW, code);
    }
    EXPECT_FALSE(ui::ForeignCallsStopped());
}
