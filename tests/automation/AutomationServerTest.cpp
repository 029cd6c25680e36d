// The program as an automation server, from outside: registration runs,
// clients in processes of their own, the end of a run started for a
// client, the question at "Exit", many clients at once and a client that
// dies holding an object.
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TestSupport.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstdio>
#include <memory>

using automation::GuidToString;
using namespace testing_support;

namespace {

std::string Program() { return "\"" + BinPath("kestrix.exe") + "\""; }
std::string Client() { return "\"" + BinPath("kestrix_client.exe") + "\""; }

// Everything a registration of the program may write.
std::vector<std::string> OurKeys() {
    return {"CLSID\\" + GuidToString(CLSID_KestrixObject),
            "kestrix.KestrixObject",
            "Interface\\" + GuidToString(IID_IKestrixObject),
            "Interface\\" + GuidToString(IID_IKestrixPlugin),
            "Interface\\" + GuidToString(IID_IKestrixPluginOptions),
            "TypeLib\\" + GuidToString(LIBID_kestrix)};
}

// A named event of this test, unique to the run.
class NamedEvent {
public:
    explicit NamedEvent(const char* role)
        : name_(std::string("kestrix-test-") + role + "-" +
                std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial_)),
          event_(::CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}
    const std::string& Name() const { return name_; }
    bool Wait(DWORD ms) const { return ::WaitForSingleObject(event_.get(), ms) == WAIT_OBJECT_0; }
    void Set() { ::SetEvent(event_.get()); }

private:
    static inline int serial_ = 0;
    std::string name_;
    ui::KernelHandle event_;
};

// A client holding one directory object until told to let go.
struct Holder {
    NamedEvent ready{"ready"}, release{"release"};
    ChildProcess client{Client() + " hold " + ready.Name() + " " + release.Name()};
};

class AutomationServer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<SavedKey>(kPluginsKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
    }
    static void TearDownTestSuite() {
        test_plugin::RunRegsvr32(false);
        plugins_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(PumpUntil([] { return ProcessIdsNamed("kestrix.exe").empty(); }, 10000))
            << "a program of an earlier test still runs";
    }
    void TearDown() override {
        // Programs started by COM for a client are not ours by handle.
        for (DWORD pid : ProcessIdsNamed("kestrix.exe")) {
            ui::KernelHandle p(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (p && ::WaitForSingleObject(p.get(), 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(p.get(), 1);
                ::WaitForSingleObject(p.get(), 5000);
            }
        }
        PumpUntil([] { return TrayWindow() == nullptr; }, 5000);
    }

    // The program, started normally and ready for clients.
    std::unique_ptr<ChildProcess> StartProgram() {
        auto program = std::make_unique<ChildProcess>(Program());
        EXPECT_TRUE(program->Started());
        // The main window exists once Application.Initialize has published
        // the factory.
        EXPECT_TRUE(PumpUntil([&] { return MainWindow(*program) != nullptr; }, 30000));
        return program;
    }
    static HWND MainWindow(const ChildProcess& program) {
        return WindowOfProcess(program.Id(), "TKestrixWnd");
    }
    // Runs a client to its end; its output.
    static std::string RunClient(const std::string& args, int expectedExit = 0) {
        ChildProcess client(Client() + " " + args);
        EXPECT_EQ(expectedExit, client.Wait(60000)) << args << ": " << client.Output();
        return client.Output();
    }
    // "Exit" from the notification icon's menu, with the real mouse.
    static void ChooseExit() {
        POINT icon;
        ASSERT_TRUE(PumpUntil([&] { return TrayWindow() && TrayIconPoint(icon); }, 10000));
        MouseClick(icon.x, icon.y, ui::mbRight);
        HWND menu = nullptr;
        ASSERT_TRUE(PumpUntil(
            [&] {
                menu = ::FindWindowA("#32768", nullptr);
                return menu && ::IsWindowVisible(menu);
            },
            5000));
        RECT rc;
        ::GetWindowRect(menu, &rc);
        Pump(100);
        MouseClick(rc.left + 20, rc.bottom - 10);
    }
    static HWND QuestionOf(const ChildProcess& program) { return MessageBoxOf(program.Id()); }

    static std::unique_ptr<SavedKey> plugins_;
};
std::unique_ptr<SavedKey> AutomationServer::plugins_;

TEST_F(AutomationServer, RegistrationRunsEndWithoutAnIconAndUnregisteringLeavesNothing) {
    std::string program = BinPath("kestrix.exe");
    auto runAndWatchTray = [](const std::string& args) {
        ChildProcess run(Program() + " " + args);
        bool trayShown = false;
        PumpUntil([&] {
            trayShown = trayShown || TrayWindow() != nullptr;
            return !run.Running();
        }, 30000);
        EXPECT_EQ(0, run.Wait(0)) << args;
        EXPECT_FALSE(trayShown) << args;
        EXPECT_EQ(nullptr, WindowOfProcess(run.Id(), "TKestrixWnd")) << args;
    };

    runAndWatchTray("/regserver");
    std::string clsid = GuidToString(CLSID_KestrixObject);
    EXPECT_EQ(program, RegistryString(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\LocalServer32"));
    EXPECT_EQ(clsid, RegistryString(HKEY_CLASSES_ROOT, "kestrix.KestrixObject\\CLSID"));
    EXPECT_EQ("{00020424-0000-0000-C000-000000000046}",
              RegistryString(HKEY_CLASSES_ROOT, "Interface\\" + GuidToString(IID_IKestrixObject) +
                                                  "\\ProxyStubClsid32"));
    EXPECT_EQ(program, RegistryString(HKEY_CLASSES_ROOT,
                                    "TypeLib\\" + GuidToString(LIBID_kestrix) + "\\1.0\\0\\win32"));

    runAndWatchTray("-UnRegServer");
    for (const std::string& key : OurKeys()) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\" + key)) << key;
    }

    // A normal start registers again.
    auto started = StartProgram();
    EXPECT_EQ(program, RegistryString(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\LocalServer32"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + GuidToString(LIBID_kestrix)));
    ::PostMessageA(MainWindow(*started), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, started->Wait(10000));
}

// Writing the type library's registration is refused for the scope; the
// key goes afterwards and a registration run puts everything back.
class RefusedTypeLibrary {
public:
    RefusedTypeLibrary() { SetDacl("D:(D;;0x0006;;;WD)(A;;KA;;;WD)"); }
    ~RefusedTypeLibrary() {
        SetDacl("D:(A;;KA;;;WD)");
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ("TypeLib\\" + GuidToString(LIBID_kestrix)).c_str());
        ChildProcess(Program() + " /RegServer").Wait(30000);
    }

private:
    // The version key itself: the registry does not check a parent when a
    // deeper path is created.
    static void SetDacl(const char* sddl) {
        SetKeyDacl(HKEY_CLASSES_ROOT, "TypeLib\\" + GuidToString(LIBID_kestrix) + "\\1.0", sddl);
    }
};

TEST_F(AutomationServer, AFailedTypeLibraryRegistrationStopsTheStartWithItsMessage) {
    RefusedTypeLibrary refused;
    ChildProcess program(Program());
    HWND box = QuestionOf(program);
    ASSERT_NE(nullptr, box) << "no message";
    // What failed, where, and why, under the program's name.
    char caption[64] = {};
    ::GetWindowTextA(box, caption, sizeof caption);
    EXPECT_STREQ("Kestrix", caption);
    std::string text = ui::Utf8(MessageBoxText(box));
    const std::string what = "Cannot register the type library of \"" + BinPath("kestrix.exe") + "\". ";
    EXPECT_EQ(0u, text.find(what)) << text;
    EXPECT_GT(text.size(), what.size()) << "the system's text follows";
    EXPECT_EQ(nullptr, WindowOfProcess(program.Id(), "TKestrixWnd"));
    EXPECT_EQ(nullptr, TrayWindow());
    ClickWindow(::GetDlgItem(box, IDOK));
    EXPECT_EQ(1, program.Wait(10000));
    EXPECT_EQ(nullptr, TrayWindow());
}

TEST_F(AutomationServer, ClientsOfOtherProcessesAreServedByTheRunningProgram) {
    auto program = StartProgram();
    std::string list = RunClient("list");
    EXPECT_EQ(0u, list.find("list 00000000 ")) << list;
    for (char letter : {'A', 'B', 'C'})
        EXPECT_NE(std::string::npos, list.find(test_plugin::PluginId(letter))) << list;

    std::string plugin = RunClient(std::string("plugin ") + test_plugin::PluginId('B'));
    EXPECT_EQ("plugin 00000000 Test plug-in B", plugin.substr(0, plugin.find_first_of("\r\n")));

    // A malformed identifier: a failure status, no pointer, an object that
    // offers error information, and the server lives on. (The description
    // itself crosses processes on Windows; Wine drops it.)
    std::string malformed = RunClient("malformed");
    EXPECT_EQ(0u, malformed.find("malformed 800401F3 null supports|")) << malformed;

    EXPECT_EQ(std::vector<DWORD>{program->Id()}, ProcessIdsNamed("kestrix.exe"))
        << "one program serves them all";
    // A normal run outlives its last object.
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(program->Handle(), 500));
    EXPECT_EQ(0u, RunClient("list").find("list 00000000 "));
    EXPECT_NE(nullptr, TrayWindow());
    // Nothing is held any more: closing asks nothing.
    ::PostMessageA(MainWindow(*program), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, program->Wait(10000));
}

TEST_F(AutomationServer, ARunStartedForAClientEndsWithItsLastObject) {
    ASSERT_EQ(0, ChildProcess(Program() + " /RegServer").Wait(30000));
    Holder holder;
    ASSERT_TRUE(holder.ready.Wait(60000)) << holder.client.Output();
    std::vector<DWORD> pids = ProcessIdsNamed("kestrix.exe");
    ASSERT_EQ(1u, pids.size()) << "COM started the program";
    ui::KernelHandle server(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pids.front()));
    ASSERT_TRUE(server);
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() != nullptr; }, 10000)) << "it runs as usual";

    // Another client reaches the same program, and letting go of its
    // object does not end it.
    EXPECT_EQ(0u, RunClient("list").find("list 00000000 "));
    EXPECT_EQ(pids, ProcessIdsNamed("kestrix.exe"));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(server.get(), 500));

    holder.release.Set();
    EXPECT_EQ(0, holder.client.Wait(30000)) << holder.client.Output();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(server.get(), 20000)) << "still running";
    DWORD code = 1;
    ::GetExitCodeProcess(server.get(), &code);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() == nullptr; }, 5000)) << "icon removed";
}

// The last object goes while a plug-in's own loop runs in the program and
// takes the quit: the run still ends once that loop does.
TEST_F(AutomationServer, AQuitThatAPluginsLoopKeptStillEndsTheRun) {
    ASSERT_EQ(0, ChildProcess(Program() + " /RegServer").Wait(30000));
    test_plugin::ClearSwitches();
    test_plugin::ClearLog();
    test_plugin::SetSwitch('A', "ExecuteLoopsUntilQuit", 1);
    Holder holder;
    ASSERT_TRUE(holder.ready.Wait(60000)) << holder.client.Output();
    std::vector<DWORD> pids = ProcessIdsNamed("kestrix.exe");
    ASSERT_EQ(1u, pids.size());
    ui::KernelHandle server(::OpenProcess(SYNCHRONIZE, FALSE, pids.front()));
    ChildProcess executes(Client() + " execute " + GuidToString(test_plugin::CLSID_TestPluginA));
    ASSERT_TRUE(PumpUntil([] {
        for (const std::string& l : test_plugin::LogLines())
            if (l.find("Execute loops") != std::string::npos) return true;
        return false;
    }, 30000)) << executes.Output();
    holder.release.Set();
    EXPECT_EQ(0, executes.Wait(30000)) << executes.Output();
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(server.get(), 20000)) << "no client can reach it";
    test_plugin::ClearSwitches();
}

TEST_F(AutomationServer, ExitWhileAClientHoldsAnObjectAsksWithNoPreselected) {
    auto program = StartProgram();
    Holder holder;
    ASSERT_TRUE(holder.ready.Wait(30000)) << holder.client.Output();

    ChooseExit();
    HWND box = QuestionOf(*program);
    ASSERT_NE(nullptr, box) << "no question";
    char caption[128] = {};
    ::GetWindowTextA(box, caption, sizeof caption);
    EXPECT_STREQ("Automation warning", caption);
    // Enter answers "No": it is the default button and has the focus.
    EXPECT_EQ(BS_DEFPUSHBUTTON,
              ::GetWindowLongA(::GetDlgItem(box, IDNO), GWL_STYLE) & BS_TYPEMASK);
    GUITHREADINFO gui = {sizeof gui};
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &gui);
    EXPECT_EQ(::GetDlgItem(box, IDNO), gui.hwndFocus);
    ASSERT_NE(nullptr, ::GetDlgItem(box, IDYES));

    // "No": the program and its icon stay.
    ClickWindow(::GetDlgItem(box, IDNO));
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(box); }, 5000));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(program->Handle(), 500));
    EXPECT_NE(nullptr, TrayWindow());

    // "Yes": it ends.
    ChooseExit();
    box = QuestionOf(*program);
    ASSERT_NE(nullptr, box);
    ClickWindow(::GetDlgItem(box, IDYES));
    EXPECT_EQ(0, program->Wait(10000));
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() == nullptr; }, 5000));
    holder.release.Set();
    holder.client.Wait(30000);
}

TEST_F(AutomationServer, UnlocksWithoutLocksNeitherEndTheProgramNorSkipTheQuestion) {
    auto program = StartProgram();
    NamedEvent ready("ready"), release("release");
    // It holds an object after one lock and three unlocks of the factory.
    ChildProcess client(Client() + " unlock " + ready.Name() + " " + release.Name());
    ASSERT_TRUE(ready.Wait(30000)) << client.Output();
    // Whether the calls reach the program is the system's affair (Wine's
    // factory proxy answers them itself).
    std::printf("[          ] %s", client.Output().substr(0, client.Output().find('\n') + 1).c_str());

    ChooseExit();
    HWND box = QuestionOf(*program);
    ASSERT_NE(nullptr, box) << "no question while a client holds an object";
    ClickWindow(::GetDlgItem(box, IDNO));
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(box); }, 5000));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(program->Handle(), 500));

    release.Set();
    EXPECT_EQ(0, client.Wait(30000)) << client.Output();
    // Its object gone, nothing is held: closing asks nothing.
    ::PostMessageA(MainWindow(*program), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, program->Wait(10000));
}

TEST_F(AutomationServer, ManyClientsAtOnceAreAllAnswered) {
    auto program = StartProgram();
    constexpr int kClients = 8, kCalls = 200;
    NamedEvent go("go");
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(std::make_unique<ChildProcess>(Client() + " calls " +
                                                         std::to_string(kCalls) + " " + go.Name()));
    go.Set();
    for (auto& client : clients) {
        EXPECT_EQ(0, client->Wait(120000)) << client->Output();
        EXPECT_EQ(0u, client->Output().find("calls " + std::to_string(kCalls) + " "))
            << client->Output();
    }
    // Still answering, and holding nothing: closing asks no question.
    EXPECT_EQ(0u, RunClient("list").find("list 00000000 "));
    ::PostMessageA(MainWindow(*program), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, program->Wait(10000)) << "objects left alive";
}

TEST_F(AutomationServer, AClientKilledHoldingAnObjectDoesNotKeepTheProgramAlive) {
    auto program = StartProgram();
    {
        Holder holder;
        ASSERT_TRUE(holder.ready.Wait(30000)) << holder.client.Output();
        holder.client.Kill();
    }
    // Either COM's rundown has let the object go, or the question comes
    // and "Yes" ends the program.
    ::PostMessageA(MainWindow(*program), WM_CLOSE, 0, 0);
    HWND box = nullptr;
    PumpUntil([&] {
        return !program->Running() ||
               (box = WindowOfProcess(program->Id(), "#32770", true)) != nullptr;
    }, 10000);
    if (box) {
        std::printf("[          ] the object of the killed client is still alive\n");
        ClickWindow(::GetDlgItem(box, IDYES));
    } else {
        std::printf("[          ] the object of the killed client was released\n");
    }
    EXPECT_EQ(0, program->Wait(10000));
}

}  // namespace
