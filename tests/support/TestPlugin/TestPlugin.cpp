// The test plug-ins on the add-ons' own plumbing (addons/common): their
// objects, factories, registration and exports are those the shipped add-ons
// use. What is the test plug-in's own: its switches, its call log, and the
// class that is no plug-in.
#include "tests/support/TestPlugin/PluginModule.h"

#include "addons/common/AddonServer.h"
#include "addons/common/AutoObject.h"

#include <cstdint>
#include <cstdio>
#include <vector>

using ui::ComPtr;
using ui::RegKey;

namespace test_plugin {

// {43A3121E-8BA7-4C9A-8FEF-4A3AA23138D7}: a plug-in of this DLL, in-process.
const IID IID_TestPluginSelf = {
    0x43A3121E, 0x8BA7, 0x4C9A, {0x8F, 0xEF, 0x4A, 0x3A, 0xA2, 0x31, 0x38, 0xD7}};

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", value);
    return text;
}

namespace {
std::string TempPath(const std::string& name) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

std::string ReadString(HKEY key, const char* name, const std::string& def) {
    if (!key) return def;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return def;
    std::string value(size + 1, '\0');
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                           &size) != ERROR_SUCCESS)
        return def;
    value.resize(strnlen(value.c_str(), value.size()));
    return value;
}
}  // namespace

Switches::Switches(char letter) : letter_(letter) {
    std::string path = std::string(kSwitchesKey) + "\\" + letter;
    ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key_.put());
}

DWORD Switches::Number(const std::string& name, DWORD def) const {
    DWORD value = 0, size = sizeof value, type = 0;
    if (!key_ || ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return def;
    return value;
}

HRESULT Switches::Status(const char* method) const {
    return static_cast<HRESULT>(Number(std::string(method) + "Status", S_OK));
}

HRESULT Switches::Result(const char* method) const {
    return static_cast<HRESULT>(Number(std::string(method) + "Result", S_OK));
}

void Switches::Crash(const char* method) const {
    switch (Number(std::string(method) + "Crash", 0)) {
        case 1: {
            Log(std::string(1, letter_) + " crash " + method);
            // Read back through volatile: the compiler cannot know the
            // address, so it keeps the write.
            volatile std::uintptr_t address = 0x10;
            *reinterpret_cast<volatile int*>(address) = 1;
            break;
        }
        case 2:
            Log(std::string(1, letter_) + " crash " + method);
            ::TerminateProcess(::GetCurrentProcess(), 3);
            break;
    }
}

std::string Switches::Text(const char* name, const std::string& def) const {
    return ReadString(key_.get(), name, def);
}

namespace {
INT_PTR CALLBACK CrashingDialogProc(HWND dialog, UINT msg, WPARAM, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrA(dialog, DWLP_USER, lp);
        // Once the dialog's own loop runs.
        ::PostMessageA(dialog, kCrashMessage, 0, 0);
        return TRUE;
    }
    if (msg == kCrashMessage) {
        Switches(static_cast<char>(::GetWindowLongPtrA(dialog, DWLP_USER))).Crash("ExecuteDialog");
        ::EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void ShowCrashingDialog(char letter, LONG parent) {
    // A bare template: a caption and no controls.
    struct alignas(4) {
        DLGTEMPLATE head;
        WORD menu, windowClass;
        wchar_t title[16];
    } dialog{{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 10, 10, 120, 60}, 0, 0, L"Test dialog"};
    ::DialogBoxIndirectParamW(addons::ModuleInstance, &dialog.head,
                              reinterpret_cast<HWND>(static_cast<LONG_PTR>(parent)), &CrashingDialogProc,
                              static_cast<LPARAM>(letter));
}

void Log(const std::string& line) {
    RegKey key;
    ::RegOpenKeyExA(HKEY_CURRENT_USER, kSwitchesKey, 0, KEY_READ, key.put());
    std::string path = ReadString(key.get(), "LogFile", TempPath("KestrixTestPlugin.log"));
    ui::FileHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

HRESULT Fail(char letter, const char* method, HRESULT status) {
    Switches switches(letter);
    std::string text = switches.Text(
        "ErrorText", std::string(method) + " failed in test plug-in " + letter);
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
        create->SetDescription(const_cast<LPOLESTR>(ui::WideString(text).c_str()));
        create->SetSource(const_cast<LPOLESTR>(L"KestrixTestPlugin"));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(info))) ::SetErrorInfo(0, info.get());
    }
    return status;
}

// ------------------------------------------------------------------------
// The plug-in object.

namespace {

volatile LONG PluginCount = 0;

char LetterOf(const CLSID& clsid) {
    return clsid == CLSID_TestPluginA ? 'A' : clsid == CLSID_TestPluginB ? 'B' : 'C';
}

class Plugin : public addons::TAutoObject<IKestrixPlugin> {
public:
    explicit Plugin(automation::TComObjectFactory& factory)
        : TAutoObject(factory),
          letter_(LetterOf(factory.ClassID())),
          number_(::InterlockedIncrement(&PluginCount)) {
        Log(Prefix() + "created");
    }
    ~Plugin() override { Log(Prefix() + "destroyed"); }

    HRESULT STDMETHODCALLTYPE GetPluginInfo(BSTR* Name, BSTR* Description,
                                            BSTR* OptionsObjectName, HRESULT* Result) noexcept override {
        // No exception leaves the call.
        return SafeCall(IID_IKestrixPlugin, [&]() -> HRESULT {
            Log(Prefix() + "GetPluginInfo");
            Switches(letter_).Crash("GetPluginInfo");
            if (!Name || !Description || !OptionsObjectName || !Result) return E_POINTER;
            *Name = *Description = *OptionsObjectName = nullptr;
            *Result = S_OK;
            Switches switches(letter_);
            if (HRESULT status = switches.Status("GetPluginInfo"); FAILED(status))
                return Fail(letter_, "GetPluginInfo", status);
            std::string letter(1, letter_);
            *Name = ::SysAllocString(ui::WideString(switches.Text("Name", "Test plug-in " + letter)).c_str());
            *Description = ::SysAllocString(
                ui::WideString(switches.Text("Description", "Kestrix test plug-in " + letter)).c_str());
            *OptionsObjectName = ::SysAllocString(
                ui::WideString(switches.Text("OptionsObjectName", OptionsId(letter_))).c_str());
            *Result = switches.Result("GetPluginInfo");
            if (switches.Number("GetPluginInfoBogus", 0)) {
                // A name that is no BSTR: its length prefix runs far past it.
                static const wchar_t kBogus[] = {0xFFFF, 0x7FFF, L'A', 0};
                ::SysFreeString(*Name);
                *Name = const_cast<BSTR>(kBogus + 2);
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE Execute(IUnknown* ImageStream, LONG ParentWnd,
                                      HRESULT* Result) noexcept override {
        // No exception leaves the call.
        return SafeCall(IID_IKestrixPlugin, [&]() -> HRESULT {
            if (Result) *Result = S_OK;
            Switches switches(letter_);
            switches.Crash("Execute");
            if (switches.Number("ExecuteDialogCrash", 0)) ShowCrashingDialog(letter_, ParentWnd);
            if (switches.Number("ExecuteLoopsUntilQuit", 0)) {
                // A loop of its own that ends at a quit and keeps it.
                Log(Prefix() + "Execute loops");
                MSG msg;
                while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageA(&msg);
                }
                return S_OK;
            }
            std::string file = switches.Text(
                "ExecuteFile", TempPath(std::string("KestrixTestPlugin") + letter_ + ".bmp"));
            ui::FileHandle out(::CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            const size_t size = CopyStream(ImageStream, out ? out.get() : nullptr);
            out.reset();
            HWND wnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(ParentWnd));
            Log(Prefix() + "Execute size=" + std::to_string(size) +
                " wnd=" + Hex(static_cast<unsigned long>(ParentWnd)) +
                " visible=" + (::IsWindowVisible(wnd) ? "1" : "0") + " options=" + options_);
            if (!Result) return E_POINTER;
            if (HRESULT status = switches.Status("Execute"); FAILED(status))
                return Fail(letter_, "Execute", status);
            *Result = switches.Result("Execute");
            return S_OK;
        });
    }

    std::string Prefix() const {
        return std::string(1, letter_) + " plugin " + std::to_string(number_) + " ";
    }
    int Number() const { return number_; }
    std::string options_;

protected:
    void* GetInterface(REFIID iid) noexcept override {
        if (iid == IID_TestPluginSelf) return static_cast<IKestrixPlugin*>(this);
        return TAutoObject::GetInterface(iid);
    }

private:
    // The stream from where it stands to its end, into the file (if any)
    // piece by piece; its length. A copy of the whole picture would raise
    // the heap this shares with the program for good, as the memory
    // benchmark would count against the program.
    static size_t CopyStream(IUnknown* unknown, HANDLE out) {
        ComPtr<IStream> stream;
        if (!unknown || FAILED(unknown->QueryInterface(IID_IStream, stream.put_void()))) return 0;
        char buffer[16384];
        size_t total = 0;
        for (;;) {
            ULONG got = 0;
            HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
            DWORD written = 0;
            if (out && got) ::WriteFile(out, buffer, got, &written, nullptr);
            total += got;
            if (FAILED(hr) || got == 0) break;
        }
        return total;
    }

    char letter_;
    int number_;
};

Plugin* OurPlugin(IUnknown* unknown) {
    if (!unknown) return nullptr;
    ComPtr<IKestrixPlugin> self;
    if (FAILED(unknown->QueryInterface(IID_TestPluginSelf, self.put_void())) || !self)
        return nullptr;
    return static_cast<Plugin*>(self.get());
}

// Creatable, and no plug-in.
class NotAPlugin : public automation::TComObject {
public:
    using TComObject::TComObject;
};

// A plug-in's factory: the Create switch acts before the object is made.
class PluginFactory : public addons::TAddonFactory {
public:
    PluginFactory(REFCLSID clsid, char letter)
        : TAddonFactory(automation::CreateComObjectOf<Plugin>, clsid, std::string("Plugin") + letter,
                        std::string("Kestrix test plug-in ") + letter, addons::TAddonClassKind::Plugin),
          letter_(letter) {}
    automation::TComObject* CreateComObject() override {
        Switches(letter_).Crash("Create");
        return TAddonFactory::CreateComObject();
    }

private:
    char letter_;
};

}  // namespace

void SetPluginOptionsText(IUnknown* plugin, const std::string& text) {
    if (Plugin* p = OurPlugin(plugin)) p->options_ = text;
}

int PluginInstanceNumber(IUnknown* plugin) {
    Plugin* p = OurPlugin(plugin);
    return p ? p->Number() : 0;
}

}  // namespace test_plugin

namespace addons {

void CreateAddonFactories() {
    using namespace test_plugin;
    TAddonServer::Instance().SetServerName("KestrixTest");
    static PluginFactory a(CLSID_TestPluginA, 'A'), b(CLSID_TestPluginB, 'B'), c(CLSID_TestPluginC, 'C');
    static TAddonFactory optionsA(CreateOptions, CLSID_TestOptionsA, "OptionsA",
                                  "Kestrix test plug-in A options", TAddonClassKind::OptionsControl);
    static TAddonFactory optionsB(CreateOptions, CLSID_TestOptionsB, "OptionsB",
                                  "Kestrix test plug-in B options", TAddonClassKind::OptionsControl);
    static TAddonFactory optionsC(CreateOptions, CLSID_TestOptionsC, "OptionsC",
                                  "Kestrix test plug-in C options", TAddonClassKind::OptionsControl);
    // No add-on kind: it must not be listed as a plug-in.
    static automation::TComObjectFactory notAPlugin(
        TAddonServer::Instance(), automation::CreateComObjectOf<NotAPlugin>, CLSID_TestNotAPlugin,
        "NotAPlugin", "Kestrix test class without IKestrixPlugin", automation::ciMultiInstance,
        automation::tmApartment);
}

}  // namespace addons
