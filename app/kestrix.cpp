// The program main.
#include "app/KestrixWindow.h"
#include "automation/ComServ.h"
#include "wizard/RecoveryStore.h"

#include <objbase.h>

using namespace ui;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        Application.Initialize();
        Application.SetTitle("Kestrix");
        Application.ShowMainForm = false;
        Application.CreateForm(KestrixWnd);
        // A second instance, or one started for a client, leaves the store
        // to the program the user runs.
        if (ClaimRecoveryStore() && !automation::HasServerSwitch("AUTOMATION") &&
            !automation::HasServerSwitch("EMBEDDING"))
            KestrixWnd->BringBackKeptPictures();
        Application.Run();
    } catch (...) {
        // A start that fails does so before the title is set; its message
        // still comes under the program's name.
        Application.SetTitle("Kestrix");
        Application.HandleException();
        Application.DestroyForms();
        return 1;
    }
    return 0;
}
