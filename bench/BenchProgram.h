// What a benchmark that opens the wizard in-process sets up first: the
// program's server and directory class as the program main has them, OLE,
// physical pixels, and errors printed instead of shown in a box.
#pragma once

#include "plugins/KestrixObjectUnit.h"
#include "tests/support/ProgramServer.h"
#include "ui/Forms.h"

#include <cstdio>
#include <string>

namespace bench {

inline void StartAsProgram() {
    testing_support::StartProgramServer();
    ::OleInitialize(nullptr);
    ::SetProcessDPIAware();
    ui::Application.SetTitle("Kestrix");
    ui::Application.OnException = [](const std::string& text) { std::printf("error: %s\n", text.c_str()); };
    KestrixObjectFactory().RegisterClassObject();
}

}  // namespace bench
