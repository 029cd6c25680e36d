// The program main.
#include "app/KestrixWindow.h"
#include "automation/ComServ.h"
#include "plugins/KestrixObjectUnit.h"
#include "wizard/RecoveryStore.h"

#include <objbase.h>

using namespace ui;

namespace {
// The classes the program serves to other programs.
const automation::ComClassEntry kProgramClasses[] = {kKestrixObjectClass};

// Raised inside a release or a lock: shown once the message loop has it.
void ShowServerError() { Application.PostException(); }
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        // The server, with its start mode from the command line, and its
        // classes; each factory reads its class from the type library.
        automation::ComServerInstance server;
        automation::RegisterComClasses(*server, kProgramClasses);
        automation::ErrorHandler = ShowServerError;
        // Application.Initialize runs COM's initialisation, then the
        // server's start: registration at every start, then the class
        // objects published. "Exit" asks the server first.
        InitProc = automation::ChainComInitHook(InitProc);
        InitProc = automation::ChainServerInitHook(InitProc);
        AddTerminateProc(automation::ConfirmServerShutdown);
        Application.Initialize();
        // A run that registers or unregisters ends here, having shown nothing.
        if (server->RegistrationRun()) return 0;

        Application.SetTitle("Kestrix");
        Application.ShowMainForm = false;
        Application.CreateForm(KestrixWnd);
        // A second instance, or one started for a client, leaves the store
        // to the program the user runs.
        if (server->StartMode() != automation::ssAutomation && ClaimRecoveryStore())
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
