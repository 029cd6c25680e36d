// The whole program, started as a user starts it and driven through the
// real notification icon with real mouse input; and from a folder whose
// name the code page cannot spell.
#include "automation/ComObj.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/kestrix_TLB.h"
#include "tests/e2e/ProgramDriver.h"
#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPlugin.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TestSupport.h"
#include "ui/Clipbrd.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <memory>
#include <string>

using namespace ui;
using namespace testing_support;

namespace {

struct ProcessWindows {
    DWORD pid;
    int visible = 0;
};
BOOL CALLBACK CountVisible(HWND w, LPARAM lp) noexcept {
    auto* p = reinterpret_cast<ProcessWindows*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid == p->pid && ::IsWindowVisible(w)) ++p->visible;
    return TRUE;
}

DWORD StoredLeaveInClipboard() {
    DWORD value = 0xDEAD, size = sizeof value;
    ::RegGetValueA(HKEY_CURRENT_USER, "Software\\Orvane\\Kestrix", "LeaveInClipboard",
                   RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

class WholeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = std::make_unique<SavedKey>("Software\\Orvane\\Kestrix");
        for (const char* name : {"QuickMode", "LeaveInClipboard"}) {
            DWORD zero = 0;
            ::RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Orvane\\Kestrix", name, REG_DWORD,
                              &zero, sizeof zero);
        }
        ClearRecoveryStore();
        ASSERT_EQ(TrayWindow(), nullptr) << "another program shows a tray icon";
        std::string cmd = "\"" + BinPath("kestrix.exe") + "\"";
        STARTUPINFOA si = {sizeof si};
        ASSERT_TRUE(::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &si, &pi_));
        process_.reset(pi_.hProcess);
        thread_.reset(pi_.hThread);
    }
    void TearDown() override {
        if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 5000);
        }
    }
    int VisibleWindowsOfProgram() {
        ProcessWindows p{pi_.dwProcessId};
        ::EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&p));
        return p.visible;
    }

    PROCESS_INFORMATION pi_ = {};
    KernelHandle process_, thread_;
    std::unique_ptr<SavedKey> settings_;
};

TEST_F(WholeProgram, CaptureThroughTheTrayIconThenExit) {
    PatternWindow pattern(0, 60, false);
    ASSERT_TRUE(PumpUntil([] { return TrayWindow() != nullptr; }, 20000));
    Pump(300);
    EXPECT_EQ(VisibleWindowsOfProgram(), 0);
    POINT icon;
    ASSERT_TRUE(TrayIconPoint(icon));

    // Double-click the icon: the frozen screen comes up. A program that has
    // just started may not take the first double-click.
    HWND capture = nullptr;
    ASSERT_TRUE(Retry([&] {
        MouseClick(icon.x, icon.y);
        MouseClick(icon.x, icon.y);
    }, [&] { return (capture = VisibleWindow("TKestrixWnd")) != nullptr; }, 4000));
    RECT rc;
    ::GetWindowRect(capture, &rc);
    EXPECT_EQ(rc.right - rc.left, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(rc.bottom - rc.top, ::GetSystemMetrics(SM_CYSCREEN));

    // Drag out 200 x 150 pixels from (300, 300), ending somewhere else first.
    DragOut({300, 300}, {{350, 330}, {600, 500}}, {500, 450});
    HWND wizard = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] { return (wizard = VisibleWindow("TAfterScreenShotWindow")) != nullptr; }, 10000));
    EXPECT_EQ(VisibleWindow("TKestrixWnd"), nullptr);

    // The wizard opens on the editor, which shows exactly the selected picture.
    HWND viewport = FindDescendant(wizard, "TScrollBox");
    ASSERT_NE(viewport, nullptr);
    HWND image = ::FindWindowExA(viewport, nullptr, "TImage", nullptr);
    ASSERT_NE(image, nullptr);
    // Centred in the viewport once the wizard is active: its place is read
    // again while waiting.
    POINT org{0, 0};
    auto shown = [&] {
        org = {0, 0};
        ::ClientToScreen(image, &org);
        return ScreenPixel(org.x, org.y) == PatternColor(300, 300) &&
               ScreenPixel(org.x + 199, org.y + 149) == PatternColor(499, 449);
    };
    EXPECT_TRUE(PumpUntil(shown, 5000));
    int bad = 0;
    for (int y = 0; y < 150; y += 7)
        for (int x = 0; x < 200; x += 3)
            if (ScreenPixel(org.x + x, org.y + y) != PatternColor(300 + x, 300 + y)) ++bad;
    EXPECT_EQ(bad, 0);
    EXPECT_NE(ScreenPixel(org.x + 200, org.y + 10), PatternColor(500, 310));
    EXPECT_NE(ScreenPixel(org.x + 10, org.y + 150), PatternColor(310, 450));

    // On to the plug-ins, "Skip" to the end, keep the picture and close.
    auto click = [&](const char* cls, const char* text) {
        HWND w = FindDescendant(wizard, cls, text);
        if (w) ClickWindow(w);
        return w != nullptr;
    };
    ASSERT_TRUE(click("Button", "Next  >"));
    ASSERT_TRUE(PumpUntil([&] { return IsShown(FindDescendant(wizard, "SysListView32")); }, 5000));
    ASSERT_TRUE(click("Static", "Skip"));
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        return IsShown(box = FindDescendant(wizard, "Button", "Leave screen-shot in Clipboard"));
    }, 5000));
    if (::SendMessageA(box, BM_GETCHECK, 0, 0) != BST_CHECKED) ClickWindow(box);
    ASSERT_TRUE(PumpUntil([&] { return ::SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000));
    ASSERT_TRUE(click("Button", "Close"));
    ASSERT_TRUE(PumpUntil([] { return ::FindWindowA("TAfterScreenShotWindow", nullptr) == nullptr; },
                          5000));
    EXPECT_TRUE(PumpUntil([&] { return VisibleWindowsOfProgram() == 0; }, 5000));
    // Right-click the icon and choose "Exit", the menu's last item.
    MouseClick(icon.x, icon.y, mbRight);
    HWND menu = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (menu = VisibleWindow("#32768")) != nullptr; }, 5000));
    ::GetWindowRect(menu, &rc);
    EXPECT_EQ(rc.left, icon.x);
    EXPECT_EQ(rc.top, icon.y);
    MouseClick(rc.left + 20, rc.bottom - 10);
    EXPECT_EQ(::WaitForSingleObject(process_.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(process_.get(), &code);
    EXPECT_EQ(code, 0u);
    // The icon went with it: the shell's tray has nothing left to show.
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() == nullptr; }, 5000));

    // The picture outlives the program; read back here at the screen's depth.
    TBitmap got;
    ASSERT_TRUE(Clipboard().GetBitmap(got));
    EXPECT_EQ(got.PixelFormat() == pf32bit ? 32 : got.PixelFormat() == pf24bit ? 24 : 0,
              ::GetDeviceCaps(WindowDc(nullptr).get(), BITSPIXEL));
    ASSERT_EQ(got.Width(), 200);
    ASSERT_EQ(got.Height(), 150);
    for (int y = 0; y < 150; y += 7)
        for (int x = 0; x < 200; x += 3) ASSERT_EQ(got.PixelColor(x, y), PatternColor(300 + x, 300 + y));
    EXPECT_EQ(StoredLeaveInClipboard(), 1u);
}

TEST_F(WholeProgram, PrintScreenStartsACapture) {
    // Keys reach the display's windows only with the pointer over one.
    PatternWindow pattern(0, 60, false);
    ASSERT_TRUE(PumpUntil([] { return TrayWindow() != nullptr; }, 20000));
    POINT icon;
    ASSERT_TRUE(TrayIconPoint(icon));
    MoveTo(400, 300);
    HWND capture = nullptr;
    ASSERT_TRUE(Retry([] { PressKey(VK_SNAPSHOT); },
                      [&] { return (capture = VisibleWindow("TKestrixWnd")) != nullptr; }));
    EXPECT_EQ(capture, WindowOfProcess(pi_.dwProcessId, "TKestrixWnd", true));
    ASSERT_TRUE(Retry([] { PressKey(VK_ESCAPE); }, [] { return !VisibleWindow("TKestrixWnd"); }));
    ASSERT_TRUE(ChooseFromMenu(icon, true, mbRight));
    EXPECT_EQ(::WaitForSingleObject(process_.get(), 10000), WAIT_OBJECT_0);
}

// ---- A folder outside the code page ----------------------------------------

const wchar_t kForeignName[] = L"\u03A9\u03BC\u03AD\u03B3\u03B1-\u6D4B\u8BD5";  // Omega-test

// Deletes a folder with everything in it; one that is not there is fine.
void RemoveFolder(const std::wstring& folder) {
    std::wstring from = folder + L'\0';  // the list ends with a second NUL
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    ::SHFileOperationW(&op);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// kestrix.exe copied into a folder of that name; the build's own program is
// registered again afterwards, in place of the copy.
class OutsideTheCodePage : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRecoveryStore();
        ASSERT_EQ(TrayWindow(), nullptr) << "another program shows a tray icon";
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + kForeignName;
        RemoveFolder(folder_);
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        BOOL lost = FALSE;
        ::WideCharToMultiByte(CP_ACP, 0, folder_.c_str(), -1, nullptr, 0, nullptr, &lost);
        ASSERT_TRUE(lost) << "the code page spells the folder's name";
        program_ = folder_ + L"\\kestrix.exe";
        ASSERT_TRUE(::CopyFileW(ui::WideString(BinPath("kestrix.exe")).c_str(), program_.c_str(),
                                FALSE));
    }
    void TearDown() override {
        for (DWORD pid : ProcessIdsNamed("kestrix.exe")) {
            KernelHandle p(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (p && ::TerminateProcess(p.get(), 1)) ::WaitForSingleObject(p.get(), 5000);
        }
        ChildProcess("\"" + BinPath("kestrix.exe") + "\" /RegServer").Wait(30000);
        RemoveFolder(folder_);
    }

    // Runs the copy until it ends; fails when it shows a message instead.
    int RunToItsEnd(const std::wstring& args) {
        ChildProcess run(Quoted(program_) + L" " + args);
        HWND box = nullptr;
        PumpUntil([&] { return !run.Running() || (box = MessageBoxOf(run.Id(), 0)) != nullptr; },
                  30000);
        EXPECT_EQ(nullptr, box) << ui::Utf8(MessageBoxText(box));
        return run.Wait(0);
    }

    std::wstring folder_, program_;
};

TEST_F(OutsideTheCodePage, TheProgramRegistersStartsAndServesFromThere) {
    EXPECT_EQ(0, RunToItsEnd(L"/RegServer"));
    const std::string classKey = "CLSID\\" + automation::GuidToString(CLSID_KestrixObject);
    EXPECT_EQ(program_, RegistryPath(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32"));
    // The type library's path in a form that 8-bit readers take too.
    const std::wstring library = RegistryPath(
        HKEY_CLASSES_ROOT, "TypeLib\\" + automation::GuidToString(LIBID_kestrix) + "\\1.0\\0\\win32");
    wchar_t longPath[1024] = {};
    ::GetLongPathNameW(library.c_str(), longPath, 1024);
    EXPECT_EQ(program_, longPath) << ui::Utf8(library);

    // A start as the user makes it: the icon, and no message.
    ChildProcess program(Quoted(program_));
    ASSERT_TRUE(PumpUntil([&] { return WindowOfProcess(program.Id(), "TKestrixWnd") != nullptr; },
                          30000));
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() != nullptr; }, 10000));
    HWND box = MessageBoxOf(program.Id(), 500);
    EXPECT_EQ(nullptr, box) << ui::Utf8(MessageBoxText(box));

    // Another process lists the plug-ins through it.
    const std::string client = "\"" + BinPath("kestrix_client.exe") + "\" list";
    {
        ChildProcess list(client);
        EXPECT_EQ(0, list.Wait(60000)) << list.Output();
        EXPECT_EQ(0u, list.Output().find("list 00000000")) << list.Output();
    }
    EXPECT_EQ(std::vector<DWORD>{program.Id()}, ProcessIdsNamed("kestrix.exe"));
    ::PostMessageA(WindowOfProcess(program.Id(), "TKestrixWnd"), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, program.Wait(10000));

    // Without it running, the system starts the copy from its registered
    // path for a client.
    ChildProcess list(client);
    EXPECT_EQ(0, list.Wait(60000)) << list.Output();
    EXPECT_EQ(0u, list.Output().find("list 00000000")) << list.Output();
}

// The user's application-data folder lies in there too, for the test.
class ApplicationDataFolder {
public:
    explicit ApplicationDataFolder(const std::wstring& folder) {
        for (const char* key : {kUserShellFolders, kShellFolders}) {
            saved_.push_back(std::make_unique<SavedKey>(key));
            RegKey k;
            ::RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, k.put(),
                              nullptr);
            ::RegSetValueExW(k.get(), L"AppData", 0, key == kShellFolders ? REG_SZ : REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(folder.c_str()),
                             static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        }
    }

private:
    static constexpr char kUserShellFolders[] =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr char kShellFolders[] =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    std::vector<std::unique_ptr<SavedKey>> saved_;
};

TEST_F(OutsideTheCodePage, CheckedPluginsIsReadAndWrittenInAnApplicationDataFolderThere) {
    const std::wstring appData = folder_ + L"\\AppData";
    ASSERT_TRUE(::CreateDirectoryW(appData.c_str(), nullptr));
    ApplicationDataFolder scope(appData);

    const std::wstring path = CheckedPluginsPath();
    EXPECT_EQ(appData + L"\\CheckedPlugins.lst", path);
    WriteCheckedPlugins(path, {test_plugin::CLSID_TestPluginC, test_plugin::CLSID_TestPluginA});
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
    EXPECT_EQ((std::vector<std::string>{test_plugin::PluginId('C'), test_plugin::PluginId('A')}),
              ReadCheckedPlugins(path));
}

// Spoils the type library that the program file carries: its header's
// signature, "MSFT" and the format version, is overwritten.
void SpoilTypeLibrary(const std::wstring& program) {
    std::string bytes = test_plugin::ReadWholeFile(program);
    const std::string signature("MSFT\x02\x00\x01\x00", 8);
    size_t at = bytes.find(signature);
    ASSERT_NE(std::string::npos, at);
    ASSERT_EQ(std::string::npos, bytes.find(signature, at + 1));
    bytes.replace(at, signature.size(), signature.size(), '\0');
    FileHandle file(::CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr));
}

TEST_F(OutsideTheCodePage, AStartWhoseTypeLibraryCannotBeLoadedSaysWhatFailedWhereAndWhy) {
    SpoilTypeLibrary(program_);
    ChildProcess program(Quoted(program_));
    HWND box = MessageBoxOf(program.Id(), 30000);
    ASSERT_NE(nullptr, box) << "no message";
    wchar_t caption[64] = {};
    ::GetWindowTextW(box, caption, 64);
    EXPECT_STREQ(L"Kestrix", caption);
    EXPECT_EQ(L"Cannot load the type library of \"" + program_ + L"\". " +
                  ui::WideFromUtf8(ui::SysErrorMessage(static_cast<DWORD>(TYPE_E_CANTLOADLIBRARY))),
              MessageBoxText(box));
    EXPECT_EQ(nullptr, TrayWindow());
    ClickWindow(::GetDlgItem(box, IDOK));
    EXPECT_EQ(1, program.Wait(10000));
}

}  // namespace
