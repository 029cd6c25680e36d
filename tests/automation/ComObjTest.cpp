// The COM base classes and the server object: counting, errors across the
// COM boundary, registration in the real registry (redirected for the test)
// and publishing from Application.Initialize.
#include "automation/ComObj.h"
#include "automation/ComServ.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/RegistryScope.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>
#include <sddl.h>

using automation::GuidToString;
using testing_support::KeyExists;
using testing_support::RedirectedKey;
using testing_support::RegistryPath;
using testing_support::RegistryString;
using ui::Bstr;
using ui::ComPtr;

namespace {

// Refuses writing to HKEY_CURRENT_USER\path (values and subkeys), as
// Windows refuses HKEY_CLASSES_ROOT to a standard user.
void DenyWrite(const std::string& path) {
    ASSERT_TRUE(testing_support::SetKeyDacl(HKEY_CURRENT_USER, path, "D:(D;;0x0006;;;WD)(A;;KA;;;WD)"));
}

void AllowAll(const std::string& path) {
    testing_support::SetKeyDacl(HKEY_CURRENT_USER, path, "D:(A;;KA;;;WD)", false);
}

// A server for a module of its own path, for registration tests.
class PathServer : public automation::TComServerObject {
public:
    explicit PathServer(std::wstring path) : path_(std::move(path)) {}
    int AdjustObjectCount(bool created) override { return created ? ++objects : --objects; }
    int AdjustFactoryCount(bool created) override { return created ? ++factories : --factories; }
    std::string GetHelpFile() override { return {}; }
    std::wstring ServerFilePath() override { return path_; }
    std::string ServerKeyName() override { return "LocalServer32"; }
    std::string ServerName() override { return "kestrixtest"; }
    bool IsStartSuspended() override { return false; }
    ComPtr<ITypeLib> GetTypeLibrary() override { return automation::ComServer->GetTypeLibrary(); }
    void SetHelpFile(const std::string&) override {}
    int objects = 0, factories = 0;

private:
    std::wstring path_;
};

const std::string kClassKey = "CLSID\\" + GuidToString(CLSID_KestrixObject);
const std::string kInterfaceKey = "Interface\\" + GuidToString(IID_IKestrixObject);

TEST(ComObj, GuidsAreSpelledAsTheSystemSpellsThem) {
    for (int i = 0; i < 20; ++i) {
        GUID guid;
        ASSERT_EQ(::CoCreateGuid(&guid), S_OK);
        wchar_t text[40] = {};
        ::StringFromGUID2(guid, text, 40);
        EXPECT_EQ(GuidToString(guid), std::string(text, text + 38));
    }
}

TEST(ComObjectFactory, RegistersAndUnregistersTheClass) {
    RedirectedKey classes(HKEY_CLASSES_ROOT);
    auto& factory = KestrixObjectFactory();
    factory.UpdateRegistry(true);
    EXPECT_EQ("KestrixObject Object", RegistryString(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_EQ(automation::ModuleFilePath(), RegistryPath(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"));
    EXPECT_EQ("kestrix.KestrixObject", RegistryString(HKEY_CLASSES_ROOT, kClassKey + "\\ProgID"));
    EXPECT_EQ(GuidToString(LIBID_kestrix), RegistryString(HKEY_CLASSES_ROOT, kClassKey + "\\TypeLib"));
    EXPECT_EQ(GuidToString(CLSID_KestrixObject),
              RegistryString(HKEY_CLASSES_ROOT, "kestrix.KestrixObject\\CLSID"));
    EXPECT_EQ("IKestrixObject", RegistryString(HKEY_CLASSES_ROOT, kInterfaceKey));
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}",
              RegistryString(HKEY_CLASSES_ROOT, kInterfaceKey + "\\ProxyStubClsid32"));
    EXPECT_EQ(GuidToString(LIBID_kestrix), RegistryString(HKEY_CLASSES_ROOT, kInterfaceKey + "\\TypeLib"));
    EXPECT_EQ("1.0", RegistryString(HKEY_CLASSES_ROOT, kInterfaceKey + "\\TypeLib", "Version"));
    // No threading model for a local server.
    EXPECT_EQ("<missing>",
              RegistryString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32", "ThreadingModel"));

    factory.UpdateRegistry(false);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "kestrix.KestrixObject"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
    // Unregistering what is not there is no error.
    EXPECT_NO_THROW(factory.UpdateRegistry(false));
}

TEST(ComObjectFactory, APathWithSpacesIsQuoted) {
    RedirectedKey classes(HKEY_CLASSES_ROOT);
    PathServer server(L"C:\\Program Files\\Kestrix\\kestrix.exe");
    {
        automation::TTypedComObjectFactory factory(
            server, &automation::CreateComObjectOf<TKestrixObject>, CLSID_KestrixObject,
            automation::ciMultiInstance);
        factory.UpdateRegistry(true);
    }
    EXPECT_EQ("\"C:\\Program Files\\Kestrix\\kestrix.exe\"",
              RegistryString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"));
    EXPECT_EQ("kestrixtest.KestrixObject", RegistryString(HKEY_CLASSES_ROOT, kClassKey + "\\ProgID"));
}

TEST(ComObjectFactory, FallsBackToTheUsersClassesWhenRefused) {
    RedirectedKey user(HKEY_CURRENT_USER);
    const std::string machine = "Software\\MachineClasses";
    const std::string perUser = "Software\\Classes\\";
    DenyWrite(machine + "\\" + kClassKey);
    ui::RegKey machineKey;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, machine.c_str(), 0,
                                             KEY_ALL_ACCESS, machineKey.put()));
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, machineKey.get());
    struct Restore {
        std::string machine, perUser;
        ~Restore() {
            ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
            AllowAll(machine + "\\" + kClassKey);
            AllowAll(perUser + kClassKey);
        }
    } restore{machine, perUser};

    auto& factory = KestrixObjectFactory();
    factory.UpdateRegistry(true);
    EXPECT_EQ("<missing>", RegistryString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey)) << "all of it goes to the user";
    EXPECT_EQ(automation::ModuleFilePath(),
              RegistryPath(HKEY_CURRENT_USER, perUser + kClassKey + "\\LocalServer32"));
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}",
              RegistryString(HKEY_CURRENT_USER, perUser + kInterfaceKey + "\\ProxyStubClsid32"));
    factory.UpdateRegistry(false);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, perUser + kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, perUser + kInterfaceKey));

    // Refused there as well: a registration error that says where.
    DenyWrite(machine + "\\" + kClassKey);
    DenyWrite(perUser + kClassKey);
    try {
        factory.UpdateRegistry(true);
        ADD_FAILURE() << "no error";
    } catch (const ui::EOleRegistrationError& e) {
        EXPECT_NE(std::string::npos, e.Message().find(kClassKey)) << e.Message();
    }
}

TEST(ComObject, CountsItselfAndIsReleasedOnce) {
    PathServer server(L"x.exe");
    automation::TTypedComObjectFactory factory(
        server, &automation::CreateComObjectOf<TKestrixObject>, CLSID_KestrixObject,
        automation::ciInternal);
    ComPtr<IKestrixObject> object;
    ASSERT_EQ(S_OK, factory.CreateInstance(nullptr, IID_IKestrixObject, object.put_void()));
    EXPECT_EQ(1, server.objects);
    ComPtr<IUnknown> other;
    ASSERT_EQ(S_OK, object.As(other));
    object.reset();
    EXPECT_EQ(1, server.objects);
    other.reset();
    EXPECT_EQ(0, server.objects);

    // A failed query leaves nothing alive.
    ComPtr<IDispatch> none;
    EXPECT_EQ(E_NOINTERFACE, factory.CreateInstance(nullptr, IID_IDispatch, none.put_void()));
    EXPECT_EQ(0, server.objects);

    // The factory's own references are the server's factory count; a
    // lock counts as an object.
    int factories = server.factories;
    factory.AddRef();
    EXPECT_EQ(factories + 1, server.factories);
    factory.Release();
    factory.LockServer(TRUE);
    EXPECT_EQ(1, server.objects);
    factory.LockServer(FALSE);
    EXPECT_EQ(0, server.objects);
    // Internal classes are neither published nor registered.
    factory.RegisterClassObject();
    EXPECT_FALSE(factory.ClassObjectRegistered());
}

TEST(ComErrors, RaisedErrorsCrossAsStatusAndErrorInformation) {
    try {
        throw ui::EOleSysError("Something broke", E_ACCESSDENIED);
    } catch (...) {
        EXPECT_EQ(E_ACCESSDENIED, automation::HandleSafeCallException(IID_IKestrixObject, "src"));
    }
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, ::GetErrorInfo(0, info.put()));
    Bstr text;
    info->GetDescription(text.put());
    EXPECT_EQ("Something broke", automation::AnsiString(text.get()));

    try {
        throw ui::Exception("plain");
    } catch (...) {
        EXPECT_EQ(E_FAIL, automation::HandleSafeCallException(IID_IKestrixObject, "src"));
    }
    try {
        throw 42;
    } catch (...) {
        EXPECT_EQ(E_UNEXPECTED, automation::HandleSafeCallException(IID_IKestrixObject, "src"));
    }
    ::SetErrorInfo(0, nullptr);
}

TEST(ComErrors, StaleErrorInformationIsNotBlamedOnACallee) {
    // Information left by someone else, and a callee that offers none.
    try {
        throw ui::Exception("stale");
    } catch (...) {
        automation::HandleSafeCallException(IID_IUnknown, "elsewhere");
    }
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    EXPECT_EQ(E_NOINTERFACE, automation::RaiseCalleeError(E_NOINTERFACE, stream.get(), IID_IStream));
    try {
        automation::OleCheckCall(E_NOINTERFACE, stream.get(), IID_IStream);
        ADD_FAILURE() << "no error";
    } catch (const ui::EOleSysError& e) {
        EXPECT_NE("stale", e.Message());
        EXPECT_EQ(E_NOINTERFACE, e.ErrorCode);
    }
    EXPECT_EQ(S_OK, automation::RaiseCalleeError(S_OK, nullptr, IID_IUnknown));
}

TEST(ComServer, DescribesTheProgram) {
    auto* server = automation::ComServer;
    ASSERT_NE(nullptr, server);
    EXPECT_FALSE(server->IsInprocServer());
    EXPECT_EQ("LocalServer32", server->ServerKeyName());
    EXPECT_EQ("kestrix", server->ServerName()) << "the type library's name";
    EXPECT_EQ(automation::ModuleFilePath(), server->ServerFilePath());
    EXPECT_EQ("test_automation_comobj", automation::ModuleBaseName());
    EXPECT_EQ(automation::ssNormal, server->StartMode());
    ComPtr<ITypeLib> library = server->GetTypeLibrary();
    ASSERT_TRUE(library);
    EXPECT_EQ("kestrix", automation::TypeLibraryName(library.get()));
    EXPECT_EQ(library.get(), server->GetTypeLibrary().get()) << "loaded once";
}

// A start in a thread that already lives in the multithreaded apartment.
DWORD WINAPI InitializeInTheMultithreadedApartment(void* result) noexcept {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        ui::Application.Initialize();
    } catch (const ui::EOleSysError& e) {
        *static_cast<ui::EOleSysError*>(result) = e;
    } catch (...) {
    }
    ::CoUninitialize();
    return 0;
}

TEST(ComServer, ACOMThatRefusesTheProgramsApartmentStopsTheStart) {
    ui::EOleSysError error("none", S_OK);
    ui::KernelHandle thread(::CreateThread(nullptr, 0, InitializeInTheMultithreadedApartment,
                                           &error, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 30000));
    EXPECT_EQ(RPC_E_CHANGED_MODE, error.ErrorCode);
    EXPECT_EQ(0u, error.Message().find("Cannot initialise COM. ")) << error.Message();
}

TEST(ComServer, InitializePublishesTheFactoryAndRegistersTheTypeLibrary) {
    RedirectedKey classes(HKEY_CLASSES_ROOT);
    EXPECT_EQ(&automation::ServerInitHook, ui::InitProc);
    ui::Application.Initialize();
    auto& factory = KestrixObjectFactory();
    struct Revoke {
        ~Revoke() { KestrixObjectFactory().RevokeClassObject(); }
    } revoke;
    EXPECT_TRUE(factory.ClassObjectRegistered());
    EXPECT_EQ(automation::ModuleFilePath(),
              RegistryPath(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"));
    std::string libKey = "TypeLib\\" + GuidToString(LIBID_kestrix) + "\\1.0";
    EXPECT_EQ("Kestrix Library", RegistryString(HKEY_CLASSES_ROOT, libKey));
    EXPECT_EQ(automation::ModuleFilePath(), RegistryPath(HKEY_CLASSES_ROOT, libKey + "\\0\\win32"));

    // Served from here now.
    ComPtr<IKestrixObject> directory;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_KestrixObject, nullptr, CLSCTX_LOCAL_SERVER,
                                       IID_IKestrixObject, directory.put_void()));
    EXPECT_EQ(1, automation::ComServer->ObjectCount());
    directory.reset();
    EXPECT_EQ(0, automation::ComServer->ObjectCount());

    automation::ComServer->UpdateRegistration(false);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, libKey));
}

}  // namespace
