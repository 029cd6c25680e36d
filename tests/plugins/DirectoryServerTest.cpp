// The running program registers its type library and directory class and
// serves directory objects to other processes.
#include "automation/ComObj.h"
#include "automation/ComServ.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using automation::AnsiString;
using automation::GuidToString;
using automation::WideString;
using ui::Bstr;
using ui::ComPtr;

using testing_support::BinPath;
using testing_support::PumpUntil;
using testing_support::WindowOfProcess;

namespace {

std::string Classes(const std::string& path, const char* name = nullptr) {
    return testing_support::RegistryString(HKEY_CLASSES_ROOT, path, name);
}

class DirectoryServerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<testing_support::SavedKey>(kPluginsKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
        // Whatever an earlier run registered goes: the start must write it.
        for (std::string key : {"CLSID\\" + GuidToString(CLSID_KestrixObject),
                                std::string("kestrix.KestrixObject"),
                                "Interface\\" + GuidToString(IID_IKestrixObject),
                                "TypeLib\\" + GuidToString(LIBID_kestrix)})
            ::RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
        std::string command = "\"" + BinPath("kestrix.exe") + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &si, &pi));
        process_.reset(pi.hProcess);
        ::CloseHandle(pi.hThread);
        pid_ = pi.dwProcessId;
        // Its main window exists once Application.Initialize has published
        // the factory; asking earlier could start a second program.
        ASSERT_TRUE(PumpUntil([] { return WindowOfProcess(pid_, "TKestrixWnd") != nullptr; }, 30000))
            << "the program did not start";
    }
    static void TearDownTestSuite() {
        if (process_) {
            if (HWND main = WindowOfProcess(pid_, "TKestrixWnd")) ::PostMessageA(main, WM_CLOSE, 0, 0);
            if (::WaitForSingleObject(process_.get(), 20000) != WAIT_OBJECT_0)
                ::TerminateProcess(process_.get(), 1);
            process_.reset();
        }
        test_plugin::RunRegsvr32(false);
        plugins_.reset();
    }
    void SetUp() override {
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
    }

    static ComPtr<IKestrixObject> RemoteDirectory() {
        ComPtr<IKestrixObject> directory;
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_KestrixObject, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IKestrixObject, directory.put_void()));
        return directory;
    }

    static std::unique_ptr<testing_support::SavedKey> plugins_;
    static ui::KernelHandle process_;
    static DWORD pid_;
};
std::unique_ptr<testing_support::SavedKey> DirectoryServerTest::plugins_;
ui::KernelHandle DirectoryServerTest::process_;
DWORD DirectoryServerTest::pid_ = 0;

TEST_F(DirectoryServerTest, TheProgramRegistersItsClassAndTypeLibrary) {
    std::string clsid = GuidToString(CLSID_KestrixObject);
    std::string libid = GuidToString(LIBID_kestrix);
    std::string program = BinPath("kestrix.exe");
    EXPECT_EQ("KestrixObject Object", Classes("CLSID\\" + clsid));
    EXPECT_EQ(program, Classes("CLSID\\" + clsid + "\\LocalServer32"));
    EXPECT_EQ("kestrix.KestrixObject", Classes("CLSID\\" + clsid + "\\ProgID"));
    EXPECT_EQ(libid, Classes("CLSID\\" + clsid + "\\TypeLib"));
    EXPECT_EQ(clsid, Classes("kestrix.KestrixObject\\CLSID"));

    std::string itf = "Interface\\" + GuidToString(IID_IKestrixObject);
    EXPECT_EQ("IKestrixObject", Classes(itf));
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}", Classes(itf + "\\ProxyStubClsid32"));
    EXPECT_EQ(libid, Classes(itf + "\\TypeLib"));
    EXPECT_EQ("1.0", Classes(itf + "\\TypeLib", "Version"));

    EXPECT_EQ(program, Classes("TypeLib\\" + libid + "\\1.0\\0\\win32"));
    ComPtr<ITypeLib> registered;
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(LIBID_kestrix, 1, 0, 0, registered.put()));
    // The dual interfaces get their marshaler from the library's registration.
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}",
              Classes("Interface\\" + GuidToString(IID_IKestrixPlugin) +
                             "\\ProxyStubClsid32"));
}

TEST_F(DirectoryServerTest, AnotherProcessListsThePluginsThroughTheProgram) {
    int before = automation::ComServer->ObjectCount();
    ComPtr<IKestrixObject> directory = RemoteDirectory();
    ASSERT_TRUE(directory);
    EXPECT_EQ(before, automation::ComServer->ObjectCount()) << "not served by this process";
    ComPtr<IUnknown> proxyManager;
    EXPECT_EQ(S_OK, directory.As(IID_IClientSecurity, proxyManager)) << "a proxy";

    Bstr list;
    ASSERT_EQ(S_OK, directory->GetPluginList(list.put()));
    std::vector<std::string> ids = SplitPluginList(list.get());
    for (char letter : {'A', 'B', 'C'})
        EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), test_plugin::PluginId(letter)))
            << AnsiString(list.get());
    EXPECT_EQ(S_OK, directory->AddPlugin(nullptr));
    EXPECT_EQ(S_OK, directory->RemovePlugin(list.get()));
}

TEST_F(DirectoryServerTest, PluginInstancesAreMadeInTheProgramAndHandedOver) {
    ComPtr<IKestrixObject> directory = RemoteDirectory();
    ASSERT_TRUE(directory);
    Bstr id(WideString(test_plugin::PluginId('A')).c_str());
    ComPtr<IKestrixPlugin> plugin;
    ASSERT_EQ(S_OK, directory->GetPlugin(id.get(), plugin.put()));
    ASSERT_TRUE(plugin);
    Bstr name, description, options;
    HRESULT result = E_UNEXPECTED;
    ASSERT_EQ(S_OK, plugin->GetPluginInfo(name.put(), description.put(), options.put(), &result));
    EXPECT_EQ("Test plug-in A", AnsiString(name.get()));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(nullptr, ::GetModuleHandleA(test_plugin::kDllName))
        << "the plug-in lives in the program";

    Bstr notAPlugin(WideString(test_plugin::kNotAPluginId).c_str());
    IKestrixPlugin* none = reinterpret_cast<IKestrixPlugin*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, directory->GetPlugin(notAPlugin.get(), &none));
    EXPECT_EQ(nullptr, none);

    Bstr malformed(L"{not-a-class}");
    none = reinterpret_cast<IKestrixPlugin*>(0x1234);
    EXPECT_EQ(CO_E_CLASSSTRING, directory->GetPlugin(malformed.get(), &none));
    EXPECT_EQ(nullptr, none);
}

TEST_F(DirectoryServerTest, TheCreatorReachesTheRunningProgram) {
    ComPtr<IKestrixObject> directory = CoKestrixObject::Create();
    ASSERT_TRUE(directory);
    Bstr list;
    EXPECT_EQ(S_OK, directory->GetPluginList(list.put()));
    EXPECT_FALSE(SplitPluginList(list.get()).empty());
}

}  // namespace
