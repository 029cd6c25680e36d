// The DLL's exports, its class factory, the plug-in objects and the
// registration that regsvr32 runs.
#include "tests/support/TestPlugin/PluginModule.h"

#include "addons/common/OptionsControl.h"

#include <olectl.h>

#include <cstdint>
#include <cstdio>
#include <vector>

using ui::Bstr;
using ui::ComPtr;
using ui::RegKey;

namespace test_plugin {

HINSTANCE ModuleInstance = nullptr;

namespace {
volatile LONG LiveObjects = 0;
volatile LONG Locks = 0;
volatile LONG PluginCount = 0;

const char kPluginsKey[] = "Software\\Orvane\\Kestrix\\Plugins";

struct ClassEntry {
    const CLSID* clsid;
    char letter;  // 'A'..'C', or 0 for the class that is no plug-in
    bool options;
};
const ClassEntry kClasses[] = {
    {&CLSID_TestPluginA, 'A', false}, {&CLSID_TestPluginB, 'B', false},
    {&CLSID_TestPluginC, 'C', false}, {&CLSID_TestOptionsA, 'A', true},
    {&CLSID_TestOptionsB, 'B', true}, {&CLSID_TestOptionsC, 'C', true},
    {&CLSID_TestNotAPlugin, 0, false},
};
}  // namespace

// {43A3121E-8BA7-4C9A-8FEF-4A3AA23138D7}: a plug-in of this DLL, in-process.
const IID IID_TestPluginSelf = {
    0x43A3121E, 0x8BA7, 0x4C9A, {0x8F, 0xEF, 0x4A, 0x3A, 0xA2, 0x31, 0x38, 0xD7}};

void ObjectCreated() { ::InterlockedIncrement(&LiveObjects); }
void ObjectDestroyed() { ::InterlockedDecrement(&LiveObjects); }
void LockModule(bool lock) {
    if (lock)
        ::InterlockedIncrement(&Locks);
    else
        ::InterlockedDecrement(&Locks);
}
bool ModuleInUse() { return LiveObjects > 0 || Locks > 0 || OptionsInUse(); }

std::wstring Wide(const std::string& s) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

std::string Narrow(const wchar_t* s) {
    if (!s) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string a(static_cast<size_t>(n > 0 ? n : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, s, -1, a.data(), n, nullptr, nullptr);
    a.resize(a.size() - 1);
    return a;
}

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
        create->SetDescription(const_cast<LPOLESTR>(Wide(text).c_str()));
        create->SetSource(const_cast<LPOLESTR>(L"KestrixTestPlugin"));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(IID_IErrorInfo, info))) ::SetErrorInfo(0, info.get());
    }
    return status;
}

ComPtr<ITypeInfo> ContractTypeInfo(REFIID iid) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(ModuleInstance, path, MAX_PATH);
    ComPtr<ITypeLib> library;
    ComPtr<ITypeInfo> info;
    if (FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put())) ||
        FAILED(library->GetTypeInfoOfGuid(iid, info.put())))
        return {};
    // A dual interface's vtable view: Invoke then calls the vtable methods.
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, vtable.put())))
        return vtable;
    return info;
}

// ------------------------------------------------------------------------
// The plug-in object.

namespace {

class Plugin : public DualDispatch<IKestrixPlugin>,
               public ISupportErrorInfo,
               public RefCounted<Plugin> {
public:
    explicit Plugin(char letter)
        : DualDispatch(IID_IKestrixPlugin),
          letter_(letter),
          number_(::InterlockedIncrement(&PluginCount)) {
        Log(Prefix() + "created");
    }
    ~Plugin() override { Log(Prefix() + "destroyed"); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IKestrixPlugin ||
            iid == IID_TestPluginSelf)
            *out = static_cast<IKestrixPlugin*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IID_IKestrixPlugin ? S_OK : S_FALSE;
    }


    HRESULT STDMETHODCALLTYPE GetPluginInfo(BSTR* Name, BSTR* Description,
                                            BSTR* OptionsObjectName, HRESULT* Result) override {
        Log(Prefix() + "GetPluginInfo");
        Switches(letter_).Crash("GetPluginInfo");
        if (!Name || !Description || !OptionsObjectName || !Result) return E_POINTER;
        *Name = *Description = *OptionsObjectName = nullptr;
        *Result = S_OK;
        Switches switches(letter_);
        if (HRESULT status = switches.Status("GetPluginInfo"); FAILED(status))
            return Fail(letter_, "GetPluginInfo", status);
        std::string letter(1, letter_);
        *Name = ::SysAllocString(Wide(switches.Text("Name", "Test plug-in " + letter)).c_str());
        *Description = ::SysAllocString(
            Wide(switches.Text("Description", "Kestrix test plug-in " + letter)).c_str());
        *OptionsObjectName = ::SysAllocString(
            Wide(switches.Text("OptionsObjectName", OptionsId(letter_))).c_str());
        *Result = switches.Result("GetPluginInfo");
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Execute(IUnknown* ImageStream, LONG ParentWnd,
                                      HRESULT* Result) override {
        if (Result) *Result = S_OK;
        Switches switches(letter_);
        switches.Crash("Execute");
        std::string file = switches.Text(
            "ExecuteFile", TempPath(std::string("KestrixTestPlugin") + letter_ + ".bmp"));
        std::vector<char> bytes = ReadStream(ImageStream);
        ui::FileHandle out(::CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (out && !bytes.empty())
            ::WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr);
        out.reset();
        HWND wnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(ParentWnd));
        Log(Prefix() + "Execute size=" + std::to_string(bytes.size()) +
            " wnd=" + Hex(static_cast<unsigned long>(ParentWnd)) +
            " visible=" + (::IsWindowVisible(wnd) ? "1" : "0") + " options=" + options_);
        if (!Result) return E_POINTER;
        if (HRESULT status = switches.Status("Execute"); FAILED(status))
            return Fail(letter_, "Execute", status);
        *Result = switches.Result("Execute");
        return S_OK;
    }

    std::string Prefix() const {
        return std::string(1, letter_) + " plugin " + std::to_string(number_) + " ";
    }
    int Number() const { return number_; }
    std::string options_;

private:
    // The stream from where it stands to its end.
    static std::vector<char> ReadStream(IUnknown* unknown) {
        std::vector<char> bytes;
        ComPtr<IStream> stream;
        if (!unknown || FAILED(unknown->QueryInterface(IID_IStream, stream.put_void())))
            return bytes;
        char buffer[65536];
        for (;;) {
            ULONG got = 0;
            HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
            bytes.insert(bytes.end(), buffer, buffer + got);
            if (FAILED(hr) || got == 0) break;
        }
        return bytes;
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

// Creatable, and nothing else.
class NotAPlugin : public IUnknown, public RefCounted<NotAPlugin> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = static_cast<IUnknown*>(this);
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
};

}  // namespace

void SetPluginOptionsText(IUnknown* plugin, const std::string& text) {
    if (Plugin* p = OurPlugin(plugin)) p->options_ = text;
}

int PluginInstanceNumber(IUnknown* plugin) {
    Plugin* p = OurPlugin(plugin);
    return p ? p->Number() : 0;
}

HRESULT CreatePlugin(char letter, REFIID iid, void** out) {
    ComPtr<IKestrixPlugin> plugin = ComPtr<IKestrixPlugin>::Copy(new Plugin(letter));
    return plugin->QueryInterface(iid, out);
}

// ------------------------------------------------------------------------
// The class factory.

namespace {

class Factory : public IClassFactory, public RefCounted<Factory> {
public:
    explicit Factory(const ClassEntry& entry) : entry_(entry) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (entry_.letter && !entry_.options) Switches(entry_.letter).Crash("Create");
        try {
            if (!entry_.letter) {
                ComPtr<IUnknown> object = ComPtr<IUnknown>::Copy(new NotAPlugin());
                return object->QueryInterface(iid, out);
            }
            return entry_.options ? CreateOptions(entry_.letter, iid, out)
                                  : CreatePlugin(entry_.letter, iid, out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        LockModule(lock != FALSE);
        return S_OK;
    }

private:
    ClassEntry entry_;
};

// ------------------------------------------------------------------------
// Registration.

std::string GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return Narrow(text);
}

std::string ModulePath() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(ModuleInstance, path, MAX_PATH);
    return path;
}

// Machine-wide classes, or the user's own where those are refused.
class ClassesWriter {
public:
    HRESULT Write(const std::string& path, const char* name, const std::string& value) {
        RegKey key;
        LONG rc = ::RegCreateKeyExA(root(), path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                    key.put(), nullptr);
        if (rc == ERROR_ACCESS_DENIED && !userClasses_) {
            rc = ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, 0,
                                   KEY_WRITE, nullptr, userClasses_.put(), nullptr);
            if (rc == ERROR_SUCCESS)
                rc = ::RegCreateKeyExA(root(), path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                       key.put(), nullptr);
        }
        if (rc == ERROR_SUCCESS)
            rc = ::RegSetValueExA(key.get(), name, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
        return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
    }

private:
    HKEY root() const { return userClasses_ ? userClasses_.get() : HKEY_CLASSES_ROOT; }
    RegKey userClasses_;
};

void DeleteClasses(const std::string& path) {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    RegKey user;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_ALL_ACCESS,
                        user.put()) == ERROR_SUCCESS)
        ::RegDeleteTreeA(user.get(), path.c_str());
}

std::string ProgIdOf(const ClassEntry& entry) {
    if (!entry.letter) return "KestrixTest.NotAPlugin";
    return std::string(entry.options ? "KestrixTest.Options" : "KestrixTest.Plugin") +
           entry.letter;
}

std::string DescriptionOf(const ClassEntry& entry) {
    if (!entry.letter) return "Kestrix test class without IKestrixPlugin";
    return std::string("Kestrix test plug-in ") + entry.letter + (entry.options ? " options" : "");
}

const char kMiscStatus[] = "131473";  // RECOMPOSEONRESIZE|INSIDEOUT|ACTIVATEWHENVISIBLE|SETCLIENTSITEFIRST|CANTLINKINSIDE

HRESULT RegisterAll() {
    ClassesWriter classes;
    std::string path = ModulePath();
    HRESULT hr = S_OK;
    auto write = [&](const std::string& key, const char* name, const std::string& value) {
        if (SUCCEEDED(hr)) hr = classes.Write(key, name, value);
    };
    for (const ClassEntry& entry : kClasses) {
        std::string clsid = GuidText(*entry.clsid), key = "CLSID\\" + clsid;
        std::string progId = ProgIdOf(entry);
        write(key, nullptr, DescriptionOf(entry));
        write(key + "\\InprocServer32", nullptr, path);
        write(key + "\\InprocServer32", "ThreadingModel", "Apartment");
        write(key + "\\ProgID", nullptr, progId);
        write(progId, nullptr, DescriptionOf(entry));
        write(progId + "\\CLSID", nullptr, clsid);
        if (entry.options) {
            write(key + "\\Control", nullptr, "");
            write(key + "\\MiscStatus", nullptr, kMiscStatus);
        }
    }
    if (FAILED(hr)) return hr;
    for (char letter : {'A', 'B', 'C'}) {
        RegKey key;
        std::string sub = std::string(kPluginsKey) + "\\" + PluginId(letter);
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
    }
    return S_OK;
}

HRESULT UnregisterAll() {
    for (const ClassEntry& entry : kClasses) {
        DeleteClasses(ProgIdOf(entry));
        DeleteClasses("CLSID\\" + GuidText(*entry.clsid));
    }
    RegKey plugins;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kPluginsKey, 0, KEY_ALL_ACCESS, plugins.put()) ==
        ERROR_SUCCESS)
        for (char letter : {'A', 'B', 'C'}) ::RegDeleteTreeA(plugins.get(), PluginId(letter));
    return S_OK;
}

}  // namespace

}  // namespace test_plugin

using namespace test_plugin;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleInstance = addons::ModuleInstance = instance;
        ::DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded while the process goes on: the classes must not outlive
        // the code of their window procedures.
        addons::UnregisterPageClass();
        ::UnregisterClassA(kOwnWindowClass, instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const ClassEntry& entry : kClasses) {
        if (*entry.clsid != clsid) continue;
        try {
            ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Copy(new Factory(entry));
            return factory->QueryInterface(iid, out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return ModuleInUse() ? S_FALSE : S_OK; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RegisterAll(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterAll(); }
