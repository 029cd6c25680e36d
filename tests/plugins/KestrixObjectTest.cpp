// The plug-in directory object in-process, over the real registry (with
// HKEY_CURRENT_USER redirected to a private key) and real COM classes.
#include "automation/ComServ.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <functional>

using automation::AnsiString;
using automation::WideString;
using testing_support::RedirectedKey;
using ui::Bstr;
using ui::ComPtr;

namespace {

ComPtr<IKestrixObject> NewDirectory() {
    ComPtr<IKestrixObject> directory;
    EXPECT_EQ(S_OK, KestrixObjectFactory().CreateInstance(nullptr, IID_IKestrixObject,
                                                          directory.put_void()));
    return directory;
}

void CreatePluginSubkey(const std::string& name) {
    ui::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER,
                                               (std::string(kPluginsKey) + "\\" + name).c_str(),
                                               0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                               nullptr))
        << name;
}

// The subkey names as the registry enumerates them.
std::vector<std::string> RegistryNames() {
    std::vector<std::string> names;
    ui::RegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kPluginsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return names;
    char name[300];
    for (DWORD i = 0; ::RegEnumKeyA(key.get(), i, name, sizeof name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    return names;
}

bool PluginKeyExists() {
    ui::RegKey key;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, kPluginsKey, 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

std::string ListText(IKestrixObject* directory, HRESULT* status = nullptr) {
    BSTR list = reinterpret_cast<BSTR>(0x1234);  // must be overwritten
    HRESULT hr = directory->GetPluginList(&list);
    if (status) *status = hr;
    Bstr owned;
    *owned.put() = list;
    return AnsiString(owned.get());
}

class KestrixObjectTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, test_plugin::RunRegsvr32(true)); }
    static void TearDownTestSuite() { test_plugin::RunRegsvr32(false); }
    void SetUp() override { test_plugin::ClearLog(); }

    RedirectedKey user_{HKEY_CURRENT_USER};
};

TEST_F(KestrixObjectTest, MissingKeyIsCreatedAndListsNothing) {
    ASSERT_FALSE(PluginKeyExists());
    ComPtr<IKestrixObject> directory = NewDirectory();
    BSTR list = reinterpret_cast<BSTR>(0x1234);
    EXPECT_EQ(S_OK, directory->GetPluginList(&list));
    EXPECT_EQ(nullptr, list);
    EXPECT_TRUE(PluginKeyExists());
    // The second call finds the key and says the same.
    list = reinterpret_cast<BSTR>(0x1234);
    EXPECT_EQ(S_OK, directory->GetPluginList(&list));
    EXPECT_EQ(nullptr, list);
}

TEST_F(KestrixObjectTest, SubkeysAreListedInEnumerationOrder) {
    for (char letter : {'C', 'A', 'B'}) CreatePluginSubkey(test_plugin::PluginId(letter));
    std::vector<std::string> names = RegistryNames();
    ASSERT_EQ(3u, names.size());
    HRESULT hr = E_UNEXPECTED;
    std::string text = ListText(NewDirectory().get(), &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(names[0] + "," + names[1] + "," + names[2], text);
    EXPECT_EQ(names, SplitPluginList(text));
}

TEST_F(KestrixObjectTest, NamesThatAreNoIdentifiersAreQuoted) {
    const std::vector<std::string> hostile = {"with space", "quo\"te", "com,ma", "tab\there",
                                              "\"\"", "caf\xE9", "plain"};
    for (const std::string& name : hostile) CreatePluginSubkey(name);
    std::vector<std::string> names = RegistryNames();
    ASSERT_EQ(hostile.size(), names.size());
    std::string text = ListText(NewDirectory().get());
    EXPECT_NE(std::string::npos, text.find("\"with space\""));
    EXPECT_NE(std::string::npos, text.find("\"quo\"\"te\""));
    EXPECT_NE(std::string::npos, text.find("\"com,ma\""));
    EXPECT_NE(std::string::npos, text.find("\"\"\"\"\"\""));
    EXPECT_EQ(std::string::npos, text.find("\"plain\""));
    EXPECT_EQ(names, SplitPluginList(text));
}

TEST_F(KestrixObjectTest, ValuesUnderTheKeyAreNeverListed) {
    CreatePluginSubkey(test_plugin::PluginId('A'));
    ui::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, kPluginsKey, 0, KEY_WRITE,
                                             key.put()));
    const BYTE bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (DWORD type : {REG_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_QWORD, REG_NONE})
        for (DWORD size : {0u, 1u, 4u, 8u, 16u})
            ::RegSetValueExA(key.get(), ("v" + std::to_string(type) + "_" + std::to_string(size)).c_str(),
                             0, type, bytes, size);
    EXPECT_EQ(test_plugin::PluginId('A'), ListText(NewDirectory().get()));
}

TEST_F(KestrixObjectTest, AThousandSubkeysAreAllListed) {
    std::vector<std::string> created;
    for (int i = 0; i < 1000; ++i) {
        GUID guid;
        ASSERT_EQ(S_OK, ::CoCreateGuid(&guid));
        created.push_back(automation::GuidToString(guid));
        CreatePluginSubkey(created.back());
    }
    std::string text = ListText(NewDirectory().get());
    EXPECT_EQ(1000u * 38 + 999, text.size());
    std::vector<std::string> listed = SplitPluginList(text);
    EXPECT_EQ(RegistryNames(), listed);
    std::sort(created.begin(), created.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(created, listed);
}

// A name of 255 characters takes up to 510 bytes in a double-byte code
// page. The test entry test_plugin_directory_dbcs runs this under one (Wine
// takes the code page from the locale); a single-byte code page cannot
// make a name that long, and skips it.
TEST(LongPluginKeys, ANameLongerThanItsBufferHidesNoPlugin) {
    CPINFO codePage = {};
    ::GetCPInfo(CP_ACP, &codePage);
    if (codePage.MaxCharSize < 2) GTEST_SKIP() << "single-byte code page " << ::GetACP();
    // A character that takes two bytes in this code page.
    wchar_t wide = 0;
    for (wchar_t c : {L'\u3042', L'\u4E00', L'\uAC00'}) {
        BOOL lost = FALSE;
        if (::WideCharToMultiByte(CP_ACP, 0, &c, 1, nullptr, 0, nullptr, &lost) == 2 && !lost) {
            wide = c;
            break;
        }
    }
    ASSERT_NE(0, wide) << "code page " << ::GetACP();
    RedirectedKey user(HKEY_CURRENT_USER);
    // Enumerated first: '!' sorts before the braces of the identifiers.
    const std::wstring longName = L"!" + std::wstring(254, wide);
    ui::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER,
                                (WideString(kPluginsKey) + L"\\" + longName).c_str(), 0, nullptr,
                                0, KEY_WRITE, nullptr, key.put(), nullptr));
    for (char letter : {'A', 'B'}) CreatePluginSubkey(test_plugin::PluginId(letter));

    HRESULT hr = E_UNEXPECTED;
    std::string text = ListText(NewDirectory().get(), &hr);
    EXPECT_EQ(S_OK, hr);
    const std::string longAnsi = AnsiString(longName.c_str(), static_cast<int>(longName.size()));
    ASSERT_EQ(509u, longAnsi.size());
    EXPECT_EQ((std::vector<std::string>{longAnsi, test_plugin::PluginId('A'),
                                        test_plugin::PluginId('B')}),
              SplitPluginList(text));
}

TEST_F(KestrixObjectTest, AnEnumerationFailureIsEFail) {
    CreatePluginSubkey(test_plugin::PluginId('A'));
    // A key that may be opened but not enumerated.
    auto setDacl = [](const char* sddl) {
        EXPECT_TRUE(testing_support::SetKeyDacl(HKEY_CURRENT_USER, kPluginsKey, sddl, false));
    };
    setDacl("D:(D;;0x0008;;;WD)(A;;KA;;;WD)");
    struct Restore {
        std::function<void(const char*)> set;
        ~Restore() { set("D:(A;;KA;;;WD)"); }
    } restore{setDacl};
    if (!RegistryNames().empty()) GTEST_SKIP() << "the registry does not enforce key security";
    HRESULT hr = S_OK;
    std::string text = ListText(NewDirectory().get(), &hr);
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_EQ("", text);
}

TEST_F(KestrixObjectTest, AddPluginAndRemovePluginChangeNothing) {
    CreatePluginSubkey(test_plugin::PluginId('B'));
    ComPtr<IKestrixObject> directory = NewDirectory();
    Bstr file(L"C:\\plugins\\SomePlugin.dll");
    EXPECT_EQ(S_OK, directory->AddPlugin(file.get()));
    EXPECT_EQ(S_OK, directory->AddPlugin(nullptr));
    EXPECT_EQ(S_OK, directory->RemovePlugin(file.get()));
    Bstr id(WideString(test_plugin::PluginId('B')).c_str());
    EXPECT_EQ(S_OK, directory->RemovePlugin(id.get()));
    EXPECT_EQ(std::vector<std::string>{test_plugin::PluginId('B')}, RegistryNames());
}

TEST_F(KestrixObjectTest, NullOutPointersAreRefused) {
    ComPtr<IKestrixObject> directory = NewDirectory();
    EXPECT_EQ(E_POINTER, directory->GetPluginList(nullptr));
    Bstr id(WideString(test_plugin::PluginId('A')).c_str());
    EXPECT_EQ(E_POINTER, directory->GetPlugin(id.get(), nullptr));
    EXPECT_TRUE(test_plugin::LogLines().empty()) << "no plug-in is made for nobody";
}

TEST_F(KestrixObjectTest, GetPluginCreatesAnInstanceOfAnyCreatableClass) {
    // Not listed under the key, and still created: the key is not consulted.
    ComPtr<IKestrixObject> directory = NewDirectory();
    Bstr id(WideString(test_plugin::PluginId('B')).c_str());
    ComPtr<IKestrixPlugin> plugin;
    ASSERT_EQ(S_OK, directory->GetPlugin(id.get(), plugin.put()));
    ASSERT_TRUE(plugin);
    Bstr name, description, options;
    HRESULT result = E_FAIL;
    EXPECT_EQ(S_OK, plugin->GetPluginInfo(name.put(), description.put(), options.put(), &result));
    EXPECT_EQ("Test plug-in B", AnsiString(name.get()));
    EXPECT_EQ(test_plugin::OptionsId('B'), AnsiString(options.get()));
    // ProgIDs parse as identifiers too.
    Bstr progId(L"KestrixTest.PluginC");
    ComPtr<IKestrixPlugin> byProgId;
    EXPECT_EQ(S_OK, directory->GetPlugin(progId.get(), byProgId.put()));
    EXPECT_TRUE(byProgId);
}

TEST_F(KestrixObjectTest, AClassWithoutThePluginInterfaceIsAStatus) {
    ComPtr<IKestrixObject> directory = NewDirectory();
    Bstr id(WideString(test_plugin::kNotAPluginId).c_str());
    IKestrixPlugin* plugin = reinterpret_cast<IKestrixPlugin*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, directory->GetPlugin(id.get(), &plugin));
    EXPECT_EQ(nullptr, plugin);
    // A status, not a raised error: no error information comes with it.
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(S_FALSE, ::GetErrorInfo(0, info.put()));

    ComPtr<IKestrixPlugin> instance;
    EXPECT_EQ(E_NOINTERFACE, CallGetPlugin(*directory.get(), test_plugin::kNotAPluginId, instance));
    EXPECT_FALSE(instance);
}

TEST_F(KestrixObjectTest, MalformedAndUnknownIdentifiersRaise) {
    ComPtr<IKestrixObject> directory = NewDirectory();
    struct Case {
        const char* nick;
        HRESULT status;
    };
    for (const Case& c : {Case{"{0EE13448-4427-4B13-B4A0-8A067683397}", CO_E_CLASSSTRING},
                          Case{"not an identifier", CO_E_CLASSSTRING},
                          Case{"{5A1BDE3C-0000-4000-8000-00000000DEAD}", REGDB_E_CLASSNOTREG}}) {
        SCOPED_TRACE(c.nick);
        Bstr nick(WideString(c.nick).c_str());
        IKestrixPlugin* plugin = reinterpret_cast<IKestrixPlugin*>(0x1234);
        EXPECT_EQ(c.status, directory->GetPlugin(nick.get(), &plugin));
        EXPECT_EQ(nullptr, plugin);
        // Raised inside: the failure carries error information.
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, ::GetErrorInfo(0, info.put()));
        Bstr source, description;
        GUID guid = GUID_NULL;
        info->GetSource(source.put());
        info->GetDescription(description.put());
        info->GetGUID(&guid);
        EXPECT_EQ("kestrix.KestrixObject", AnsiString(source.get()));
        EXPECT_EQ(IID_IKestrixObject, guid);
        EXPECT_FALSE(AnsiString(description.get()).empty());

        // The in-process caller gets it raised again.
        ComPtr<IKestrixPlugin> instance;
        try {
            CallGetPlugin(*directory.get(), c.nick, instance);
            ADD_FAILURE() << "no error raised";
        } catch (const ui::EOleSysError& e) {
            EXPECT_EQ(c.status, e.ErrorCode);
            EXPECT_EQ(AnsiString(description.get()), e.Message());
        }
        EXPECT_FALSE(instance);
    }
}

TEST_F(KestrixObjectTest, ErrorInformationIsOffered) {
    ComPtr<IKestrixObject> directory = NewDirectory();
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, directory.As(support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IKestrixObject));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IKestrixPlugin));

    ComPtr<IProvideClassInfo> classInfo;
    ASSERT_EQ(S_OK, directory.As(classInfo));
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, classInfo->GetClassInfo(info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(CLSID_KestrixObject, attr->guid);
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(E_POINTER, classInfo->GetClassInfo(nullptr));

    // One identity for every interface.
    ComPtr<IUnknown> a, b;
    directory.As(a);
    classInfo.As(b);
    EXPECT_EQ(a.get(), b.get());
    ComPtr<IDispatch> none;
    EXPECT_EQ(E_NOINTERFACE, directory.As(none));
}

TEST_F(KestrixObjectTest, CreatorFindsTheProgramsOwnFactory) {
    auto& factory = KestrixObjectFactory();
    factory.RegisterClassObject();
    struct Revoke {
        ~Revoke() { KestrixObjectFactory().RevokeClassObject(); }
    } revoke;
    int before = automation::ComServer->ObjectCount();
    {
        ComPtr<IKestrixObject> directory = CoKestrixObject::Create();
        ASSERT_TRUE(directory);
        EXPECT_EQ(before + 1, automation::ComServer->ObjectCount())
            << "served by this process, not another one";
        CreatePluginSubkey(test_plugin::PluginId('C'));
        EXPECT_EQ(test_plugin::PluginId('C'), ListText(directory.get()));
    }
    EXPECT_EQ(before, automation::ComServer->ObjectCount());
}

TEST_F(KestrixObjectTest, CreatorRefusesAnObjectThatIsNoDirectory) {
    // Some other class answering under the directory's identifier.
    ComPtr<IClassFactory> other;
    ASSERT_EQ(S_OK, ::CoGetClassObject(test_plugin::CLSID_TestNotAPlugin, CLSCTX_INPROC_SERVER,
                                       nullptr, IID_IClassFactory, other.put_void()));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, ::CoRegisterClassObject(CLSID_KestrixObject, other.get(),
                                            CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie));
    struct Revoke {
        DWORD cookie;
        ~Revoke() { ::CoRevokeClassObject(cookie); }
    } revoke{cookie};
    try {
        CoKestrixObject::Create();
        ADD_FAILURE() << "no error";
    } catch (const ui::EOleSysError& e) {
        EXPECT_EQ("The plug-in directory does not support the interface IKestrixObject",
                  e.Message());
        EXPECT_EQ(E_NOINTERFACE, e.ErrorCode);
    }
}

TEST_F(KestrixObjectTest, FactoryDescribesItsClass) {
    auto& factory = KestrixObjectFactory();
    EXPECT_EQ(CLSID_KestrixObject, factory.ClassID());
    EXPECT_EQ("KestrixObject", factory.ClassName());
    EXPECT_EQ("KestrixObject Object", factory.Description());
    EXPECT_EQ("kestrix.KestrixObject", factory.ProgID());
    EXPECT_EQ(automation::ciMultiInstance, factory.Instancing());
    EXPECT_EQ(automation::tmApartment, factory.ThreadingModel());
    EXPECT_EQ(&factory, automation::ComClassManager().GetFactoryFromClassID(CLSID_KestrixObject));

    void* object = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory.CreateInstance(reinterpret_cast<IUnknown*>(&factory), IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, factory.CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(E_NOINTERFACE, factory.CreateInstance(nullptr, IID_IKestrixPlugin, &object));
    EXPECT_EQ(nullptr, object);
}

}  // namespace
