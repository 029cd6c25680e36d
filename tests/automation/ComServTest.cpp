// The server's start modes, its registration-error rules, the end of a run
// for a client when the last object goes, and the shutdown question.
#include "automation/ComServ.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>
#include <sddl.h>

using namespace automation;
using testing_support::RedirectedKey;
using ui::ComPtr;

namespace {

TServerStartMode ModeOf(const std::string& commandLine) {
    return ServerStartMode(CommandLineParams(commandLine));
}

TEST(ServerSwitches, TheWordAfterASwitchCharacterInAnyCase) {
    struct Case {
        const char* commandLine;
        TServerStartMode mode;
    } cases[] = {
        {"kestrix.exe", ssNormal},
        {"kestrix.exe /regserver", ssRegister},
        {"kestrix.exe -RegServer", ssRegister},
        {"kestrix.exe -rEgSeRvEr", ssRegister},
        {"\"C:\\Program Files\\Kestrix\\kestrix.exe\" /UNREGSERVER", ssUnregister},
        {"kestrix.exe -unRegServer", ssUnregister},
        {"kestrix.exe -Embedding", ssAutomation},
        {"kestrix.exe /automation", ssAutomation},
        {"kestrix.exe \"/RegServer\"", ssRegister},
        {"kestrix.exe\t  /RegServer  ", ssRegister},
        // Anything appended, another leading character, or none: no switch.
        {"kestrix.exe /RegServer:x", ssNormal},
        {"kestrix.exe /RegServerX", ssNormal},
        {"kestrix.exe -Embedding=1", ssNormal},
        {"kestrix.exe RegServer", ssNormal},
        {"kestrix.exe --RegServer", ssNormal},
        {"kestrix.exe \\RegServer", ssNormal},
        {"kestrix.exe /Reg Server", ssNormal},
        {"kestrix.exe / RegServer", ssNormal},
        {"kestrix.exe \"/RegServer x\"", ssNormal},
        // The program's own name is no parameter.
        {"/RegServer", ssNormal},
        // Several at once.
        {"kestrix.exe /UnregServer /RegServer", ssRegister},
        {"kestrix.exe /RegServer /UnregServer", ssRegister},
        {"kestrix.exe /RegServer -Embedding", ssAutomation},
        {"kestrix.exe -unregserver /automation /regserver", ssAutomation},
        {"kestrix.exe /RegServer:x /UnregServer", ssUnregister},
    };
    for (const Case& c : cases) EXPECT_EQ(c.mode, ModeOf(c.commandLine)) << c.commandLine;
}

TEST(ServerSwitches, ParametersAreSplitLikeTheSystemDoes) {
    EXPECT_EQ((std::vector<std::string>{"a b", "c", "de", "/x"}),
              CommandLineParams("\"a b\" c  \"d\"e /x"));
    EXPECT_TRUE(CommandLineParams("").empty());
    EXPECT_TRUE(CommandLineParams("   ").empty());
    EXPECT_TRUE(HasServerSwitch("Word", {"p", "x", "-WORD"}));
    EXPECT_FALSE(HasServerSwitch("Word", {"p", "-WOR"}));
    EXPECT_FALSE(HasServerSwitch("Word", {"p", "-"}));
    // This test program was started without any.
    EXPECT_FALSE(HasServerSwitch("REGSERVER"));
    EXPECT_EQ(ssNormal, ComServer->StartMode());
    EXPECT_EQ(ssAutomation, TComServer({"kestrix.exe", "-Embedding"}).StartMode());
}

// ------------------------------------------------------------------------

const CLSID kTestClass = {0x6b1f0a52, 0x3c1e, 0x4d7e, {0x9a, 0x51, 0x22, 0x3e, 0x64, 0x0d, 0x8c, 0x17}};

bool TakeQuitMessage() {
    MSG msg;
    bool quit = false;
    while (::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) quit = true;
    // Taken as the program's outermost loop takes it.
    if (quit) ui::Application.QuitReceived();
    return quit;
}

// A server of its own with one published factory of directory objects.
struct PublishedServer {
    explicit PublishedServer(const char* switches)
        : server({"kestrix.exe", switches}),
          factory(new TComObjectFactory(server, &CreateComObjectOf<TKestrixObject>, kTestClass,
                                        "TestDirectory", "", ciMultiInstance, tmApartment)) {
        factory->RegisterClassObject();
        TakeQuitMessage();
    }
    // Made through the system, as a client of the process gets it.
    ComPtr<IKestrixObject> Create() {
        ComPtr<IKestrixObject> object;
        EXPECT_EQ(S_OK, ::CoCreateInstance(kTestClass, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IKestrixObject, object.put_void()));
        return object;
    }
    TComServer server;
    TComObjectFactory* factory;  // destroyed by the server
};

TEST(LastRelease, ARunForAClientQuitsAndWithdrawsItsClassObjects) {
    PublishedServer s("-Embedding");
    ComPtr<IKestrixObject> first = s.Create(), second = s.Create();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(2, s.server.ObjectCount());
    first.reset();
    EXPECT_FALSE(TakeQuitMessage());
    EXPECT_TRUE(s.factory->ClassObjectRegistered());
    second.reset();
    EXPECT_EQ(0, s.server.ObjectCount());
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_FALSE(s.factory->ClassObjectRegistered()) << "no new client gets a dying server";
}

TEST(LastRelease, ANormalRunGoesOn) {
    PublishedServer s("");
    s.Create().reset();
    EXPECT_EQ(0, s.server.ObjectCount());
    EXPECT_FALSE(TakeQuitMessage());
    EXPECT_TRUE(s.factory->ClassObjectRegistered());
    // A server lock counts as an object.
    s.factory->LockServer(TRUE);
    EXPECT_EQ(1, s.server.ObjectCount());
    s.factory->LockServer(FALSE);
    EXPECT_FALSE(TakeQuitMessage());
}

TEST(LastRelease, AnUnlockWithoutALockNeitherEndsARunForAClientNorCountsBelowZero) {
    PublishedServer s("-Embedding");
    ComPtr<IKestrixObject> held = s.Create();
    EXPECT_EQ(S_OK, s.factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, s.factory->LockServer(FALSE));
    EXPECT_EQ(E_UNEXPECTED, s.factory->LockServer(FALSE));
    EXPECT_EQ(E_UNEXPECTED, s.factory->LockServer(FALSE));
    EXPECT_EQ(1, s.server.ObjectCount());
    EXPECT_FALSE(TakeQuitMessage()) << "a client still holds an object";
    EXPECT_TRUE(s.factory->ClassObjectRegistered());
    held.reset();
    EXPECT_EQ(0, s.server.ObjectCount());
    EXPECT_TRUE(TakeQuitMessage());
}

TEST(LastRelease, TheHandlerDecidesAndItsErrorDoesNotStopTheQuit) {
    {
        PublishedServer s("-Embedding");
        s.server.OnLastObjectReleased = [](bool& shutdown) { shutdown = false; };
        s.Create().reset();
        EXPECT_FALSE(TakeQuitMessage());
        EXPECT_TRUE(s.factory->ClassObjectRegistered());
    }
    {
        PublishedServer s("");
        s.server.OnLastObjectReleased = [](bool& shutdown) { shutdown = true; };
        s.Create().reset();
        EXPECT_TRUE(TakeQuitMessage());
    }
    {
        PublishedServer s("/Automation");
        s.server.OnLastObjectReleased = [](bool&) { throw ui::Exception("handler failed"); };
        testing_support::RecordedErrors().clear();
        s.Create().reset();
        EXPECT_TRUE(TakeQuitMessage());
        // Shown from the loop, not inside the release.
        testing_support::PumpUntil([] { return !testing_support::RecordedErrors().empty(); }, 2000);
        EXPECT_EQ(std::vector<std::string>{"handler failed"}, testing_support::RecordedErrors());
    }
}

// ------------------------------------------------------------------------
// Registration errors at start, in a registry of the test's own where
// writing can be refused.

void SetDacl(const std::string& path, const char* sddl) {
    ASSERT_TRUE(testing_support::SetKeyDacl(HKEY_CURRENT_USER, path, sddl));
}

class StartRegistration : public testing::Test {
protected:
    void SetUp() override {
        ui::RegKey machine;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, kMachine, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, machine.put(),
                                                   nullptr));
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, machine.get());
    }
    void TearDown() override {
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        for (const std::string& path : denied_) SetDacl(path, "D:(A;;KA;;;WD)");
    }
    // Writing HKEY_CLASSES_ROOT\path, and the user's classes with it, is
    // refused (the key itself: the registry does not check a parent when
    // a deeper path is created).
    void Deny(const std::string& path, bool perUserToo) {
        denied_.push_back(std::string(kMachine) + "\\" + path);
        if (perUserToo) denied_.push_back("Software\\Classes\\" + path);
        for (const std::string& p : denied_) SetDacl(p, "D:(D;;0x0006;;;WD)(A;;KA;;;WD)");
        // A register run that is not refused would end this test program.
        ui::RegKey probe;
        ASSERT_EQ(ERROR_ACCESS_DENIED,
                  ::RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                    KEY_WRITE, nullptr, probe.put(), nullptr));
    }
    static constexpr char kMachine[] = "Software\\MachineClasses";
    RedirectedKey user_{HKEY_CURRENT_USER};
    std::vector<std::string> denied_;
};

struct TypedServer {
    explicit TypedServer(const char* switches)
        : server({"kestrix.exe", switches}),
          factory(new TTypedComObjectFactory(server, &CreateComObjectOf<TKestrixObject>,
                                             CLSID_KestrixObject, ciMultiInstance, tmApartment)) {}
    ~TypedServer() { factory->RevokeClassObject(); }
    TComServer server;
    TComObjectFactory* factory;
};

const std::string kClassKey = "CLSID\\" + GuidToString(CLSID_KestrixObject);
const std::string kLibKey = "TypeLib\\" + GuidToString(LIBID_kestrix);

TEST_F(StartRegistration, AFailedClassRegistrationStillStartsANormalRun) {
    Deny(kClassKey, true);
    for (const char* switches : {"", "-Embedding"}) {
        TypedServer s(switches);
        EXPECT_NO_THROW(s.server.StartServer()) << switches;
        EXPECT_TRUE(s.factory->ClassObjectRegistered()) << switches;
    }
}

TEST_F(StartRegistration, AFailedClassRegistrationEndsARegisterRunWithItsMessage) {
    Deny(kClassKey, true);
    TypedServer s("/RegServer");
    try {
        s.server.StartServer();
        ADD_FAILURE() << "no error";
    } catch (const ui::EOleRegistrationError& e) {
        EXPECT_NE(std::string::npos, e.Message().find(kClassKey)) << e.Message();
    }
    EXPECT_FALSE(s.factory->ClassObjectRegistered());
}

TEST_F(StartRegistration, AFailedTypeLibraryRegistrationStopsEveryStart) {
    Deny(kLibKey + "\\1.0", true);
    for (const char* switches : {"", "-Embedding"}) {
        TypedServer s(switches);
        try {
            s.server.StartServer();
            ADD_FAILURE() << "no error for '" << switches << "'";
        } catch (const ui::EOleRegistrationError& e) {
            ADD_FAILURE() << "a registration error: " << e.Message();
        } catch (const ui::EOleSysError& e) {
            EXPECT_FALSE(e.Message().empty());
            EXPECT_TRUE(FAILED(e.ErrorCode));
        }
        EXPECT_FALSE(s.factory->ClassObjectRegistered());
    }
}

// ------------------------------------------------------------------------

HWND OwnMessageBox() {
    HWND box = ::FindWindowA("#32770", nullptr);
    DWORD pid = 0;
    if (box) ::GetWindowThreadProcessId(box, &pid);
    return box && pid == ::GetCurrentProcessId() && ::IsWindowVisible(box) ? box : nullptr;
}

TEST(ShutdownQuestion, OnlyWhileObjectsLiveAndNoIsPreselected) {
    ASSERT_EQ(0, ComServer->ObjectCount());
    EXPECT_TRUE(ConfirmServerShutdown()) << "no question without objects";

    ComPtr<IKestrixObject> held;
    ASSERT_EQ(S_OK, KestrixObjectFactory().CreateInstance(nullptr, IID_IKestrixObject,
                                                          held.put_void()));
    struct Seen {
        bool noIsDefault = false;
        char caption[128] = {};
        bool yesButton = false;
        int focused = 0;
    };
    auto answer = [](int button, Seen& seen) {
        testing_support::WhenReady([] { return OwnMessageBox() != nullptr; },
                                   [button, &seen] {
                                       HWND box = OwnMessageBox();
                                       seen.noIsDefault =
                                           (::GetWindowLongA(::GetDlgItem(box, IDNO), GWL_STYLE) &
                                            BS_TYPEMASK) == BS_DEFPUSHBUTTON;
                                       ::GetWindowTextA(box, seen.caption, sizeof seen.caption);
                                       seen.yesButton = ::GetDlgItem(box, IDYES) != nullptr;
                                       seen.focused = ::GetDlgCtrlID(::GetFocus());
                                       ::PostMessageA(box, WM_COMMAND, button, 0);
                                   });
    };
    Seen no;
    answer(IDNO, no);
    EXPECT_FALSE(ConfirmServerShutdown());
    EXPECT_FALSE(testing_support::PendingWhenReady()) << "no question was asked";
    EXPECT_TRUE(no.noIsDefault);
    EXPECT_EQ(IDNO, no.focused);
    EXPECT_TRUE(no.yesButton);
    EXPECT_STREQ("Automation warning", no.caption);

    Seen yes;
    answer(IDYES, yes);
    EXPECT_TRUE(ConfirmServerShutdown());

    // Application.Terminate asks it: "No" keeps the application going.
    Seen again;
    answer(IDNO, again);
    ui::Application.Terminate();
    EXPECT_FALSE(ui::Application.Terminated());
    EXPECT_FALSE(TakeQuitMessage());

    // Unlocks without locks do not hide the object that is still held.
    for (int i = 0; i < 3; ++i) KestrixObjectFactory().LockServer(FALSE);
    Seen unlocked;
    answer(IDNO, unlocked);
    EXPECT_FALSE(ConfirmServerShutdown());
    EXPECT_FALSE(testing_support::PendingWhenReady()) << "no question was asked";

    held.reset();
    EXPECT_TRUE(ConfirmServerShutdown());
}

}  // namespace
