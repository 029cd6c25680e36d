// The wizard driven through its real window with the test plug-ins
// registered for real.
#include "wizard/AfterScreenShotWindowUnit.h"

#include "automation/ComServ.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "settings/SettingsStore.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TrayDialog.h"
#include "tests/support/WizardRun.h"
#include "ui/Clipbrd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace ui;
using namespace testing_support;
using Wizard = TAfterScreenShotWindow;

namespace {

void SetDword(const char* name, DWORD value) {
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value);
}
DWORD StoredDword(const char* name) {
    DWORD value = 0xDEAD, size = sizeof value, type = 0;
    ::RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY, &type, &value, &size);
    return type == REG_DWORD ? value : 0xDEAD;
}
// The log lines that contain every one of the words.
int Logged(std::initializer_list<const char*> words) {
    int n = 0;
    for (const std::string& line : test_plugin::LogLines())
        if (std::all_of(words.begin(), words.end(),
                        [&](const char* w) { return line.find(w) != std::string::npos; }))
            ++n;
    return n;
}
// (options object, plug-in instance) of each SetPlugin of a letter.
std::vector<std::pair<int, int>> SetPlugins(char letter) {
    std::vector<std::pair<int, int>> out;
    const std::string prefix = std::string(1, letter) + " options ";
    for (const std::string& line : test_plugin::LogLines()) {
        int n = 0, m = 0;
        if (line.rfind(prefix, 0) == 0 &&
            std::sscanf(line.c_str() + prefix.size(), "%d SetPlugin plugin=%d", &n, &m) == 2)
            out.emplace_back(n, m);
    }
    return out;
}
// The plug-in instance of each Execute of a letter.
std::vector<int> Executes(char letter) {
    std::vector<int> out;
    const std::string prefix = std::string(1, letter) + " plugin ";
    for (const std::string& line : test_plugin::LogLines()) {
        int n = 0;
        char word[16] = {};
        if (line.rfind(prefix, 0) == 0 &&
            std::sscanf(line.c_str() + prefix.size(), "%d %15s", &n, word) == 2 &&
            std::string(word) == "Execute")
            out.push_back(n);
    }
    return out;
}
HWND OptionsWindow(Wizard& w) {
    return ::FindWindowExA(w.PluginContainer.Handle(), nullptr, test_plugin::kOptionsWindowClass,
                           nullptr);
}

// A picture with many colours and an odd width, in the given format.
void FillPicture(TBitmap& b, TPixelFormat format) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(61, 37);
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 61; ++x)
            b.Canvas().SetPixels(x, y, static_cast<TColor>(RGB(x * 4, y * 7, (x ^ y) * 8)));
    b.SetPixelFormat(format);
}

class WizardTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        settings_ = std::make_unique<SavedKey>(kSettingsKey);
        KestrixObjectFactory().RegisterClassObject();
    }
    static void TearDownTestSuite() {
        KestrixObjectFactory().RevokeClassObject();
        test_plugin::RunRegsvr32(false);
        settings_.reset();
    }
    void SetUp() override {
        DeleteUserKey(kPluginsKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
        SetDword("QuickMode", 0);
        SetDword("MaxHistorySteps", 10);
        SetDword("LeaveInClipboard", 0);
        RecordedErrors().clear();
        list_ = CheckedPluginsPath();
        savedList_ = ReadBytes(list_);
        Check("");
        Clipboard().SetAsText("keep");
    }
    void TearDown() override {
        if (savedList_ == "<missing>")
            std::filesystem::remove(list_);
        else
            WriteBytes(list_, savedList_);
        test_plugin::ClearSwitches();
    }
    // The plug-ins that "CheckedPlugins.lst" names.
    void Check(const std::string& letters) {
        std::string text;
        for (char l : letters) text += std::string(test_plugin::PluginId(l)) + "\r\n";
        WriteBytes(list_, text);
    }

    // Opens a wizard on a picture and runs the steps once its first tick has
    // passed; true when it closed before the time ran out.
    static bool Run(std::function<std::vector<Step>(Wizard&)> steps, TPixelFormat format = pf24bit) {
        auto wizard = std::make_unique<Wizard>();
        FillPicture(wizard->ScreenShot.Picture.Bitmap(), format);
        return RunWizard(*wizard, steps);
    }
    static Step Click(TControl& c, std::function<bool()> until = [] { return true; }) {
        return {[&c] { ClickWindow(c.Handle()); }, until, 2};
    }
    static Step Page(Wizard& w, int page) {
        return {[] {}, [&w, page] { return w.Notebook.PageIndex() == page; }};
    }
    static Step NextTo(Wizard& w, int page) {
        return Click(w.Next, [&w, page] { return w.Notebook.PageIndex() == page; });
    }
    // Next on a plug-in's page, until its Execute has been called n times.
    static Step Execute(Wizard& w, char letter, int n) {
        return Click(w.Next, [letter, n] {
            return static_cast<int>(Executes(letter).size()) == n && AfterScreenShotWindow &&
                   AfterScreenShotWindow->Visible();
        });
    }

    std::filesystem::path list_;
    std::string savedList_;
    static std::unique_ptr<SavedKey> settings_;
};
std::unique_ptr<SavedKey> WizardTest::settings_;

TEST_F(WizardTest, WithoutPluginsNextLeadsToTheReportWhereCloseLeavesThePicture) {
    DeleteUserKey(kPluginsKey);
    SetDword("LeaveInClipboard", 0x100);  // lowest byte 0: unchecked
    bool page0 = false, page3 = false;
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        page0 = w.Notebook.PageIndex() == 0 && !w.Back.Enabled() && w.Next.Enabled() &&
                w.Finalize.Caption() == "Cancel" && !w.cbLeaveInClipboard.Checked();
        return {{[] {}, [&w] {
                     // The picture, unscaled, in the viewport of page 0.
                     POINT p{0, 0};
                     ::ClientToScreen(w.ScreenShot.Handle(), &p);
                     return ::IsWindowVisible(w.ScrollBox.Handle()) &&
                            ScreenPixel(p.x + 60, p.y + 36) == w.ScreenShot.Picture.Bitmap().PixelColor(60, 36);
                 }},
                NextTo(w, 1),
                {[&] { EXPECT_EQ(w.ActionsView.Count(), 0); }},
                NextTo(w, 3),
                {[&] { page3 = !w.Back.Enabled() && !w.Next.Enabled() && w.Finalize.Caption() == "Close"; }},
                Click(w.Finalize)};
    }));
    EXPECT_TRUE(page0);
    EXPECT_TRUE(page3);
    EXPECT_EQ(Clipboard().AsText(), "keep");
    EXPECT_EQ(StoredDword("LeaveInClipboard"), 0u);

    // Checked, the picture goes to the clipboard at its depth, palette and all.
    SetDword("LeaveInClipboard", 1);
    TBitmap expected;
    FillPicture(expected, pf8bit);
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        return {NextTo(w, 1), Click(w.Label9, [&w] { return w.Notebook.PageIndex() == 3; }),
                Click(w.Finalize)};
    }, pf8bit));
    TBitmap got;
    ASSERT_TRUE(Clipboard().GetBitmap(got));
    EXPECT_EQ(got.PixelFormat(), pf8bit);
    ASSERT_EQ(got.Width(), 61);
    ASSERT_EQ(got.Height(), 37);
    for (int y = 0; y < 37; y += 3)
        for (int x = 0; x < 61; x += 5) ASSERT_EQ(got.PixelColor(x, y), expected.PixelColor(x, y));
    EXPECT_EQ(StoredDword("LeaveInClipboard"), 1u);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(WizardTest, NoPluginCodeRunsBeforeTheWizardIsOnScreenAndTheFirstTickListsThemAll) {
    auto wizard = std::make_unique<Wizard>();
    FillPicture(wizard->ScreenShot.Picture.Bitmap(), pf24bit);
    EXPECT_EQ(Logged({"GetPluginInfo"}), 0);
    int rows = 0;
    ASSERT_TRUE(RunWizard(*wizard, [&](Wizard& w) -> std::vector<Step> {
        rows = w.ActionsView.Count();
        return {Click(w.Finalize)};
    }));
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(Logged({"GetPluginInfo"}), 3);
}

TEST_F(WizardTest, CancelOnTheFirstThreePagesOnlyRewritesTheLoadedChoice) {
    Check("A");
    for (int page = 0; page < 3; ++page) {
        SetDword("LeaveInClipboard", 0x101);
        ASSERT_TRUE(Run([page](Wizard& w) -> std::vector<Step> {
            std::vector<Step> s;
            for (int p = 1; p <= page; ++p) s.push_back(NextTo(w, p));
            s.push_back(Click(w.Finalize));
            return s;
        }));
        EXPECT_EQ(Clipboard().AsText(), "keep") << page;
        EXPECT_EQ(StoredDword("LeaveInClipboard"), 1u) << page;
    }
    EXPECT_EQ(Logged({"Execute"}), 0);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(WizardTest, RowsCheckedOnTheListDecideAndEachTurnHasItsOwnObjects) {
    Check("A");
    // A failing Result of GetPluginInfo is no reason to leave C out.
    test_plugin::SetSwitch('C', "GetPluginInfoResult", static_cast<DWORD>(E_FAIL));
    std::vector<std::string> names;
    bool end = false;
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        return {
            NextTo(w, 1),
            {[&] {
                for (int i = 0; i < w.ActionsView.Count(); ++i)
                    names.push_back(w.ActionsView.Item(i).Caption());
                w.ActionsView.Item(2).SetChecked(true);  // B, as the user ticks it
            }},
            NextTo(w, 2),
            {[] {}, [&w] { return OptionsWindow(w) && SetPlugins('A').size() == 1; }},
            // Back and Next again: a new instance and a new options object.
            Click(w.Back, [&w] { return w.Notebook.PageIndex() == 1; }),
            NextTo(w, 2),
            {[] {}, [] { return SetPlugins('A').size() == 2; }},
            Execute(w, 'A', 1),
            {[] {}, [&w] { return OptionsWindow(w) && SetPlugins('B').size() == 1; }},
            Execute(w, 'B', 1),
            Page(w, 3),
            {[&] { end = !w.Back.Enabled() && !w.Next.Enabled() && w.Finalize.Caption() == "Close"; }},
            Click(w.Finalize),
        };
    }));
    // The registry lists its keys sorted: C, A, B.
    EXPECT_EQ(names, (std::vector<std::string>{"Test plug-in C", "Test plug-in A", "Test plug-in B"}));
    EXPECT_TRUE(end);
    EXPECT_EQ(Logged({"C options"}), 0);
    const auto a = SetPlugins('A'), b = SetPlugins('B');
    ASSERT_EQ(a.size(), 2u);
    EXPECT_NE(a[0].first, a[1].first);
    EXPECT_NE(a[0].second, a[1].second);
    EXPECT_EQ(Executes('A'), std::vector<int>{a[1].second});
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(Executes('B'), std::vector<int>{b[0].second});
    EXPECT_EQ(Logged({"Execute", "visible=1"}), 0);
    EXPECT_EQ(Clipboard().AsText(), "keep");
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(WizardTest, QuickModeRunsTheFirstCheckedPluginOnceAndCloses) {
    SetDword("QuickMode", 1);
    Check("BA");
    bool opened = false;
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        opened = w.Notebook.PageIndex() == 2;
        return {{[] {}, [&w] { return OptionsWindow(w) != nullptr; }},
                Click(w.Next, [] { return Executes('A').size() == 1; })};
    }));
    EXPECT_TRUE(opened);
    EXPECT_EQ(Logged({"B options"}), 0);
    EXPECT_EQ(Clipboard().AsText(), "keep");
    // Its library stays for COM's delay, ready for the next picture, instead
    // of being loaded anew each time.
    FreeWizardLeftovers();
    EXPECT_NE(::GetModuleHandleA("KestrixTestPlugin.dll"), nullptr);

    // Nothing checked: it closes as soon as it has appeared.
    Check("");
    SetDword("LeaveInClipboard", 0x100);
    ASSERT_TRUE(Run([](Wizard&) -> std::vector<Step> { return {}; }));
    EXPECT_EQ(StoredDword("LeaveInClipboard"), 0u);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(WizardTest, ItsOwnDirectoryIsCalledInProcessNotThroughTheCOMObject) {
    // Each time the last directory object of this process goes.
    int released = 0;
    automation::ComServer->OnLastObjectReleased = [&](bool&) { ++released; };
    struct Unhook {
        ~Unhook() { automation::ComServer->OnLastObjectReleased = nullptr; }
    } unhook;
    SetDword("QuickMode", 1);
    Check("A");
    ASSERT_TRUE(Run([](Wizard& w) -> std::vector<Step> {
        return {{[] {}, [&w] { return OptionsWindow(w) != nullptr; }},
                Click(w.Next, [] { return Executes('A').size() == 1; })};
    }));
    EXPECT_EQ(0, released) << "a directory object was made for the wizard";
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(WizardTest, FailingResultsKeepThePluginsPageWithoutAWord) {
    Check("A");
    test_plugin::SetSwitch('A', "SaveSettingsResult", static_cast<DWORD>(E_FAIL));
    bool hidden = false;
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        return {
            NextTo(w, 1), NextTo(w, 2),
            {[] {}, [&w] { return OptionsWindow(w) != nullptr; }},
            Click(w.Next, [] { return Logged({"SaveSettings"}) == 1; }),
            {[&] {
                 test_plugin::SetSwitch('A', "SaveSettingsResult", S_OK);
                 test_plugin::SetSwitch('A', "ExecuteResult", static_cast<DWORD>(E_FAIL));
                 hidden = !w.Visible();
             }},
            Execute(w, 'A', 1),
            Execute(w, 'A', 2),
            {[&w] { test_plugin::SetSwitch('A', "ExecuteResult", S_OK); }},
            Click(w.Next, [&w] { return w.Notebook.PageIndex() == 3; }),
            Click(w.Finalize),
        };
    }));
    EXPECT_FALSE(hidden);
    // Three runs of the one instance that was set up.
    const auto a = SetPlugins('A');
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(Executes('A'), std::vector<int>(3, a[0].second));
    EXPECT_EQ(Logged({"A options", "SaveSettings"}), 4);
    EXPECT_EQ(Logged({"Execute", "visible=1"}), 0);
    EXPECT_TRUE(RecordedErrors().empty());
}

// A failing call status of each plug-in method: its message, and the
// wizard where it was.
TEST_F(WizardTest, FailingCallsAreShownAndTheWizardStaysWhereItWas) {
    Check("A");
    const HRESULT failure = E_ACCESSDENIED;
    for (const char* method : {"SaveSettings", "Execute", "SetPlugin", "QueryInterface"}) {
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
        RecordedErrors().clear();
        test_plugin::SetSwitch('A', std::string(method) + "Status", static_cast<DWORD>(failure));
        // A set-up that failed is tried again at Next, never run.
        const bool setUp = std::string(method) == "SetPlugin" || std::string(method) == "QueryInterface";
        const size_t errors = setUp ? 2 : 1;
        bool stayed = false;
        ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
            return {NextTo(w, 1), NextTo(w, 2),
                    Click(w.Next, [errors] { return RecordedErrors().size() == errors; }),
                    {[&] { stayed = w.Visible() && w.Notebook.PageIndex() == 2; }},
                    Click(w.Finalize)};
        })) << method;
        EXPECT_TRUE(stayed) << method;
        ASSERT_FALSE(RecordedErrors().empty()) << method;
        const std::string expected = std::string(method) == "QueryInterface"
                                         ? "IKestrixPluginOptions"
                                         : std::string(method) + " failed in test plug-in A";
        EXPECT_NE(RecordedErrors()[0].find(expected), std::string::npos) << RecordedErrors()[0];
        EXPECT_EQ(Logged({"SaveSettings"}), setUp ? 0 : 1) << method;
        EXPECT_EQ(Executes('A').size(), std::string(method) == "Execute" ? 1u : 0u) << method;
    }
}

TEST_F(WizardTest, APluginThatFaultsIsTurnedOffAndNeverCalledAgainWhileTheNextOneRuns) {
    Check("AB");
    // Close: A's page torn down as B's is made, a fault of A's, not of B's.
    for (const char* method : {"SetPlugin", "DoVerb", "SaveSettings", "Execute", "Close"}) {
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
        RecordedErrors().clear();
        test_plugin::SetSwitch('A', std::string(method) + "Crash", 1);
        const bool atSetUp = std::string(method) == "SetPlugin" || std::string(method) == "DoVerb";
        bool stayed = false, unchecked = false;
        ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
            std::vector<Step> steps{NextTo(w, 1), Click(w.Next, [&w, atSetUp] {
                                        return w.Notebook.PageIndex() == 2 && (!atSetUp || RecordedErrors().size() == 1);
                                    })};
            if (!atSetUp) steps.push_back(Click(w.Next, [] { return RecordedErrors().size() == 1; }));
            steps.push_back({[&] {
                stayed = w.Visible() && w.Notebook.PageIndex() == 2;
                unchecked = !w.ActionsView.Item(0).Checked();
            }});
            steps.push_back(Click(w.Next, [] { return Logged({"B options", "SetPlugin"}) == 1; }));
            steps.push_back(Click(w.Next, [&w] { return w.Notebook.PageIndex() == 3; }));
            steps.push_back(Click(w.Finalize));
            return steps;
        })) << method;
        EXPECT_TRUE(stayed) << method;
        EXPECT_TRUE(unchecked) << method;
        ASSERT_EQ(RecordedErrors().size(), 1u) << method;
        EXPECT_NE(RecordedErrors()[0].find("The plug-in \"Test plug-in A\" stopped working (access violation at 0x"),
                  std::string::npos)
            << RecordedErrors()[0];
        EXPECT_EQ(Executes('B').size(), 1u) << method;
        // Nothing of A is called after its fault, not even a release.
        const std::vector<std::string> log = test_plugin::LogLines();
        auto crash = std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("A crash", 0) == 0; });
        ASSERT_NE(crash, log.end()) << method;
        EXPECT_TRUE(std::none_of(crash + 1, log.end(), [](const std::string& l) { return l[0] == 'A'; })) << method;
    }
}

// A fault in a window of the plug-in, outside any call (its page) or in a
// modal loop of its own (a dialog of Execute): the same end as a call's.
TEST_F(WizardTest, AFaultInAPluginsWindowTurnsItOffAndLeavesTheWizardUsable) {
    Check("AB");
    for (const char* where : {"Page", "ExecuteDialog"}) {
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
        RecordedErrors().clear();
        test_plugin::SetSwitch('A', std::string(where) + "Crash", 1);
        const bool page = std::string(where) == "Page";
        if (!page) test_plugin::SetSwitch('A', "ExecuteDialogCrash", 1);
        HWND faulted = nullptr;
        bool usable = false;
        ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
            return {NextTo(w, 1), NextTo(w, 2),
                    {[] {}, [&w] { return OptionsWindow(w) != nullptr; }},
                    {[&w, &faulted, page] {
                         faulted = OptionsWindow(w);
                         if (page)
                             ::PostMessageA(faulted, test_plugin::kCrashMessage, 0, 0);
                         else
                             ::PostMessageA(w.Next.Handle(), BM_CLICK, 0, 0);
                     },
                     [] { return RecordedErrors().size() == 1; }},
                    {[&] {
                        auto checked = [&w](const char* name) {
                            for (int i = 0; i < w.ActionsView.Count(); ++i)
                                if (w.ActionsView.Item(i).Caption() == name) return w.ActionsView.Item(i).Checked();
                            return false;
                        };
                        usable = w.Visible() && ::IsWindowEnabled(w.Handle()) && w.Notebook.PageIndex() == 2 &&
                                 !checked("Test plug-in A") && checked("Test plug-in B") &&
                                 (!::IsWindow(faulted) || !::IsWindowVisible(faulted));
                    }},
                    Click(w.Next, [] { return Logged({"B options", "SetPlugin"}) == 1; }),
                    Click(w.Next, [&w] { return w.Notebook.PageIndex() == 3; }),
                    Click(w.Finalize)};
        })) << where;
        EXPECT_TRUE(usable) << where;
        ASSERT_EQ(RecordedErrors().size(), 1u) << where;
        EXPECT_NE(RecordedErrors()[0].find("The plug-in \"Test plug-in A\" stopped working (access violation at 0x"),
                  std::string::npos)
            << RecordedErrors()[0];
        EXPECT_EQ(Executes('B').size(), 1u) << where;
    }
}

TEST_F(WizardTest, AFailingRowIsLeftOutNamedOnceAndTheSettingsAreStillRead) {
    SetDword("LeaveInClipboard", 1);
    SetDword("MaxHistorySteps", 3);
    Check("CAB");
    // The directory lists C, A, B: each case breaks A, or adds a key before
    // them all whose class is gone.
    const char* kStale = "{0000ACC0-0000-4000-8000-00000000ACC0}";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::string> rows;
        const char* message;
    };
    // The message shows over the editor, not over the list it speaks of.
    int pageAtMessage = -1;
    const auto record = Application.OnException;
    Application.OnException = [&](const std::string& text) {
        if (AfterScreenShotWindow) pageAtMessage = AfterScreenShotWindow->Notebook.PageIndex();
        record(text);
    };
    ScopeExit restore([&] { Application.OnException = record; });
    for (const Case& c :
         {Case{"GetPluginInfo fails", [] { test_plugin::SetSwitch('A', "GetPluginInfoStatus", static_cast<DWORD>(E_FAIL)); },
               {"Test plug-in C", "Test plug-in B"}, "GetPluginInfo failed in test plug-in A"},
          Case{"options named by ProgID", [] { test_plugin::SetSwitchText('A', "OptionsObjectName", "KestrixTest.OptionsA"); },
               {"Test plug-in C", "Test plug-in B"}, "\"Test plug-in A\": \"KestrixTest.OptionsA\" is not a class identifier"},
          Case{"GetPluginInfo faults", [] { test_plugin::SetSwitch('A', "GetPluginInfoCrash", 1); },
               {"Test plug-in C", "Test plug-in B"}, "stopped working (access violation at 0x"},
          Case{"a name that is no BSTR", [] { test_plugin::SetSwitch('A', "GetPluginInfoBogus", 1); },
               {"Test plug-in C", "Test plug-in B"}, "returned a string that is not a BSTR"},
          Case{"stale key", [&] {
                RegKey key;
                ::RegCreateKeyA(HKEY_CURRENT_USER, (std::string(kPluginsKey) + "\\" + kStale).c_str(), key.put());
            },
               {"Test plug-in C", "Test plug-in A", "Test plug-in B"}, kStale}}) {
        test_plugin::ClearSwitches();
        DeleteUserKey(std::string(kPluginsKey) + "\\" + kStale);
        RecordedErrors().clear();
        c.arrange();
        std::vector<std::string> rows;
        bool read = false;
        ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
            for (int i = 0; i < w.ActionsView.Count(); ++i) rows.push_back(w.ActionsView.Item(i).Caption());
            read = w.cbLeaveInClipboard.Checked() && w.Editor.History.HistoryLimit == 3 && w.ActionsView.Item(0).Checked();
            return {Click(w.Finalize)};
        })) << c.name;
        EXPECT_EQ(rows, c.rows) << c.name;
        EXPECT_TRUE(read) << c.name;
        EXPECT_EQ(pageAtMessage, 0) << c.name;
        ASSERT_EQ(RecordedErrors().size(), 1u) << c.name;
        EXPECT_NE(RecordedErrors()[0].find(c.message), std::string::npos) << RecordedErrors()[0];
        EXPECT_EQ(StoredDword("LeaveInClipboard"), 1u) << c.name;
    }
    DeleteUserKey(std::string(kPluginsKey) + "\\" + kStale);

    // A list of defaults that cannot be read checks nothing, lists all.
    test_plugin::ClearSwitches();
    RecordedErrors().clear();
    ui::FileHandle locked(::CreateFileW(list_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    int rows = 0, checked = 0;
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        rows = w.ActionsView.Count();
        for (int i = 0; i < rows; ++i) checked += w.ActionsView.Item(i).Checked();
        return {Click(w.Finalize)};
    }));
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(checked, 0);
    ASSERT_EQ(RecordedErrors().size(), 1u);
    EXPECT_NE(RecordedErrors()[0].find("CheckedPlugins.lst"), std::string::npos) << RecordedErrors()[0];
}

TEST_F(WizardTest, ARegistryThatRefusesTheWriteDoesNotHoldTheWizard) {
    ASSERT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, kSettingsKey, "D:P(A;;KR;;;WD)"));
    const bool closed = Run([](Wizard& w) -> std::vector<Step> { return {Click(w.Finalize)}; });
    SetKeyDacl(HKEY_CURRENT_USER, kSettingsKey, "D:P(A;;KA;;;WD)");
    EXPECT_TRUE(closed);
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Error write LeaveInClipboard registry value"});
}

TEST_F(WizardTest, TabEntersTheOptionsControlAndLeavesItWithNotifications) {
    Check("A");
    HWND inside = nullptr;
    ASSERT_TRUE(Run([&](Wizard& w) -> std::vector<Step> {
        auto in = [&] { return (inside = ::GetFocus()) && ::IsChild(w.PluginContainer.Handle(), inside); };
        auto tab = [&w](std::function<bool()> until) {
            return Step{[&w] {
                            ::SetForegroundWindow(w.Handle());
                            PressKey(VK_TAB);
                        },
                        until, 1};
        };
        return {NextTo(w, 1), NextTo(w, 2),
                {[] {}, [&w] { return OptionsWindow(w) != nullptr; }},
                {[&w] { w.Next.SetFocus(); }},
                // From Next to Cancel, round into the options, then on to Back.
                tab([&w] { return ::GetFocus() == w.Finalize.Handle(); }),
                tab(in),
                {[] {}, [] { return Logged({"Notify 1"}) == 1; }},
                tab([&w] { return ::GetFocus() == w.Back.Handle(); }),
                {[] {}, [] { return Logged({"Notify 0"}) == 1; }},
                Click(w.Finalize)};
    }));
    EXPECT_NE(inside, nullptr);
    EXPECT_EQ(Logged({"A options", "Notify 1"}), 1);
    EXPECT_EQ(Logged({"A options", "Notify 0"}), 1);
    EXPECT_TRUE(RecordedErrors().empty());
}

// What the plug-in receives is a whole bitmap file of the picture's format;
// tests/wizard/check-streams.sh has ImageMagick read it back against the
// reference written here.
TEST_F(WizardTest, ThePluginReceivesABitmapFileOfEveryPixelFormat) {
    Check("A");
    std::filesystem::remove_all("streams");
    std::filesystem::create_directories("streams");
    for (auto [format, bpp] : {std::pair{pf1bit, 1}, {pf4bit, 4}, {pf8bit, 8}, {pf15bit, 15},
                               {pf16bit, 16}, {pf24bit, 24}, {pf32bit, 32}}) {
        const std::string name = "streams\\" + std::to_string(bpp);
        test_plugin::SetSwitchText('A', "ExecuteFile", name + ".bmp");
        test_plugin::ClearLog();
        ASSERT_TRUE(Run([](Wizard& w) -> std::vector<Step> {
            return {NextTo(w, 1), NextTo(w, 2), Execute(w, 'A', 1), Click(w.Finalize)};
        }, format)) << bpp;
        const std::string file = ReadBytes(name + ".bmp");
        ASSERT_GT(file.size(), 54u) << bpp;
        const auto* head = reinterpret_cast<const BITMAPFILEHEADER*>(file.data());
        const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(file.data() + sizeof *head);
        EXPECT_EQ(head->bfType, 0x4D42);
        EXPECT_EQ(head->bfSize, file.size());
        EXPECT_EQ(info->biBitCount, bpp == 15 ? 16 : bpp);
        EXPECT_EQ(info->biCompression, static_cast<DWORD>(bpp == 16 ? BI_BITFIELDS : BI_RGB));
        // The reference: the picture's own colours, as a plain PPM.
        TBitmap picture;
        FillPicture(picture, format);
        std::string ppm = "P6\n61 37\n255\n";
        for (int y = 0; y < 37; ++y)
            for (int x = 0; x < 61; ++x) {
                COLORREF c = picture.PixelColor(x, y);
                ppm += {static_cast<char>(GetRValue(c)), static_cast<char>(GetGValue(c)),
                        static_cast<char>(GetBValue(c))};
            }
        WriteBytes(name + ".ppm", ppm);
    }
    EXPECT_TRUE(RecordedErrors().empty());
}

}  // namespace
