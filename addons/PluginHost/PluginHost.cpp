// KestrixPluginHost.exe {plugin-clsid} [picture.bmp] [/bits:N]
// Shows the plug-in's page as the wizard does; Next runs SaveSettings and
// Execute on the picture (a drawn one without a file), Back shows the page
// afresh, Cancel ends. Ends with 0 when the last Next got through Execute
// with a successful Result, else 1.
#include "addons/PluginHost/PluginHostUnit.h"

#include "automation/ComServ.h"
#include "plugins/KestrixObjectUnit.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <shellapi.h>

#include <cwchar>
#include <memory>

using namespace ui;

namespace {
const char kUsage[] =
    "Usage: KestrixPluginHost.exe {plugin-clsid} [picture.bmp] [/bits:N]\n\n"
    "Shows the plug-in's page as the Kestrix wizard does. Next runs SaveSettings "
    "and Execute on the picture (a drawn one when no file is named), at N bits "
    "(1, 4, 8, 15, 16, 24 or 32) when /bits is given.";

void ShowError(const std::string& text) {
    WriteOutput("Error: " + text);
    ::MessageBoxW(::GetActiveWindow(), WideFromUtf8(text).c_str(),
                  WideString(Application.Title()).c_str(), MB_OK | MB_ICONSTOP);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // What the user sees of an error in the program, written out as well.
    Application.SetTitle("Kestrix");
    Application.OnException = ShowError;
    if (FAILED(::OleInitialize(nullptr))) {
        ShowError("Cannot initialise OLE");
        return 1;
    }
    ScopeExit oleEnd([] { ::OleUninitialize(); });
    try {
        int argc = 0;
        LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
        ScopeExit freeArgs([argv] { ::LocalFree(argv); });
        std::wstring plugin, picturePath;
        int bits = 0;
        for (int i = 1; argv && i < argc; ++i) {
            std::wstring arg = argv[i];
            if (arg.rfind(L"/bits:", 0) == 0) {
                // A wrong number is refused with the depths that exist.
                bits = static_cast<int>(std::wcstol(arg.c_str() + 6, nullptr, 10));
                if (bits == 0) bits = -1;
            } else if (plugin.empty())
                plugin = arg;
            else
                picturePath = arg;
        }
        if (plugin.empty()) {
            ShowError(kUsage);
            return 1;
        }
        TBitmap picture;
        LoadTestPicture(picture, picturePath, bits);
        // The plug-in directory of this process, as the program serves its
        // own: nothing is registered for it.
        automation::ComServerInstance server;
        const automation::ComClassEntry classes[] = {kKestrixObjectClass};
        automation::RegisterComClasses(*server, classes);
        automation::ErrorHandler = [] { Application.PostException(); };
        KestrixObjectFactory().RegisterClassObject();
        std::unique_ptr<TPluginHostWindow> host(new TPluginHostWindow(AnsiString(plugin.data(),
                                                static_cast<int>(plugin.size())), picture));
        host->ShowModal();
        const bool succeeded = host->Succeeded();
        host.reset();
        KestrixObjectFactory().RevokeClassObject();
        return succeeded ? 0 : 1;
    } catch (...) {
        Application.HandleException();
    }
    return 1;
}
