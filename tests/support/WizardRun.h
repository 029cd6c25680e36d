// The wizard run modally in a test: the steps start once it shows and its
// first tick has passed, and a watchdog cancels it should they hang.
#pragma once

#include "tests/support/TrayDialog.h"
#include "wizard/AfterScreenShotWindowUnit.h"

#include <functional>
#include <vector>

namespace testing_support {

inline bool wizardLate = false;

inline void CALLBACK WizardTooLate(HWND, UINT, UINT_PTR, DWORD) {
    wizardLate = true;
    if (AfterScreenShotWindow) AfterScreenShotWindow->ModalResult = ui::mrCancel;
}

// True when the wizard closed before the time ran out.
inline bool RunWizard(TAfterScreenShotWindow& wizard,
                      std::function<std::vector<Step>(TAfterScreenShotWindow&)> steps) {
    AfterScreenShotWindow = &wizard;
    wizard.ScreenShot.Invalidate();
    wizardLate = false;
    UINT_PTR dog = ::SetTimer(nullptr, 0, 30000, &WizardTooLate);
    WhenReady([] { return AfterScreenShotWindow->Visible() && !AfterScreenShotWindow->Timer.Enabled(); },
              [steps] {
                  ::SetForegroundWindow(AfterScreenShotWindow->Handle());
                  RunSteps(steps(*AfterScreenShotWindow));
              });
    wizard.ShowModal();
    ::KillTimer(nullptr, dog);
    CancelWhenReady();
    AfterScreenShotWindow = nullptr;
    return !wizardLate;
}

}  // namespace testing_support
