// Test main: OLE for the tests that need it, and the application's error
// box replaced by a record that tests read.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <ole2.h>

int main(int argc, char** argv) {
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
