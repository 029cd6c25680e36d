#include "tests/support/ProgramServer.h"

#include "automation/ComServ.h"
#include "plugins/KestrixObjectUnit.h"
#include "ui/Forms.h"

namespace testing_support {

void StartProgramServer() {
    static automation::ComServerInstance server;
    static const bool started = [] {
        const automation::ComClassEntry classes[] = {kKestrixObjectClass};
        automation::RegisterComClasses(*server, classes);
        automation::ErrorHandler = [] { ui::Application.PostException(); };
        ui::InitProc = automation::ChainComInitHook(ui::InitProc);
        ui::InitProc = automation::ChainServerInitHook(ui::InitProc);
        ui::AddTerminateProc(automation::ConfirmServerShutdown);
        return true;
    }();
    (void)started;
}

}  // namespace testing_support
