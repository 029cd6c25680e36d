// Test main: OLE for the tests that need it, and the application's error
// box replaced by a record that tests read.
#include "tests/support/TestSupport.h"
#ifdef KESTRIX_TEST_SERVER
#include "tests/support/ProgramServer.h"
#endif

#include <gtest/gtest.h>
#include <ole2.h>

int main(int argc, char** argv) {
#ifdef KESTRIX_TEST_SERVER
    // Before anything else, as in the program main.
    testing_support::StartProgramServer();
#endif
    ::OleInitialize(nullptr);
    ::SetProcessDPIAware();
    ui::Application.SetTitle("Kestrix");
    ui::Application.OnException = [](const std::string& text) {
        testing_support::RecordedErrors().push_back(text);
    };
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    ::OleUninitialize();
    return rc;
}
