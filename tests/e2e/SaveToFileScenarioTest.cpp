// The program with the Save-to-file add-on installed and chosen as the
// default plug-in, used as a user uses it: capture, Next to the add-on's
// page, Next to save. The
// files are copied beside the test with a reference of the selection, for
// check-saved.sh to compare with ImageMagick.
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/e2e/ProgramDriver.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <filesystem>
#include <fstream>

using namespace ui;
using namespace testing_support;

namespace {

const char kAddonKey[] = "Software\\Orvane\\Kestrix\\Addons\\SaveToFile";
const char kSettingsKey[] = "Software\\Orvane\\Kestrix";
// {EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}: the add-on's plug-in.
const CLSID kSaveToFile = {0xEC4EEBF1, 0x28C8, 0x40FC, {0x80, 0xA5, 0xC1, 0x43, 0x8C, 0xD9, 0xA2, 0x40}};
const wchar_t kName[] = L"\u0441\u043D\u0438\u043C\u043E\u043A";  // "snapshot" in Russian

void SetAddon(const wchar_t* name, const std::wstring& text) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, WideFromUtf8(kAddonKey).c_str(), name, REG_SZ, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
void SetAddon(const wchar_t* name, DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, WideFromUtf8(kAddonKey).c_str(), name, REG_DWORD, &value,
                      sizeof value);
}
// The text of another process's control.
std::wstring WindowText(HWND w) {
    wchar_t buf[1024] = {};
    ::SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}

class SaveToFileScenario : public testing::Test {
protected:
    static void SetUpTestSuite() {
        settings_ = std::make_unique<SavedKey>(kSettingsKey);
        std::filesystem::remove_all("saved");
        DeleteUserKey(kPluginsKey);
        ASSERT_EQ(addon_tests::Regsvr32("KestrixSaveToFile.dll", true), 0);
    }
    static void TearDownTestSuite() {
        addon_tests::Regsvr32("KestrixSaveToFile.dll", false);
        settings_.reset();
    }
    void SetUp() override {
        ClearRecoveryStore();
        for (const char* name : {"QuickMode", "LeaveInClipboard"}) {
            DWORD zero = 0;
            ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &zero, sizeof zero);
        }
        WriteCheckedPlugins(CheckedPluginsPath(), {kSaveToFile});
        SetAddon(L"Folder", folder_.Path());
        SetAddon(L"FileName", kName);
        std::filesystem::create_directories("saved");
        ASSERT_TRUE(PumpUntil([] { return TrayWindow() == nullptr; }, 5000))
            << "another program shows a tray icon";
        std::string cmd = "\"" + BinPath("kestrix.exe") + "\"";
        STARTUPINFOA si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &si, &pi));
        process_.reset(pi.hProcess);
        KernelHandle thread(pi.hThread);
    }
    void TearDown() override {
        // Ended as a user ends it: a killed server would leave its class
        // registered for the next client.
        if (HWND main = WindowOfProcess(::GetProcessId(process_.get()), "TKestrixWnd"))
            ::PostMessageA(main, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 5000);
        }
    }

    // One run: capture, tick the add-on on the list, Next to its page. The
    // wizard is then on the add-on's page; null when it never got there.
    HWND OpenAddonPage(const RECT& sel) {
        HWND wizard = CaptureSelection(sel);
        // It opens on the stored page and turns to the editor at its first tick.
        if (!wizard || !PumpUntil([&] { return IsShown(FindDescendant(wizard, "TScrollBox")); }, 5000))
            return nullptr;
        auto next = [&] { ClickWindow(FindDescendant(wizard, "Button", "Next  >")); };
        // The first click on a window just shown can be lost.
        HWND list = nullptr;
        for (int attempt = 0; attempt < 3 && !IsShown(list); ++attempt) {
            next();
            PumpUntil([&] { return IsShown(list = FindDescendant(wizard, "SysListView32")); }, 2000);
        }
        if (!IsShown(list)) return nullptr;
        // Its one row, ticked as the user's default plug-in.
        if (::SendMessageA(list, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK) != INDEXTOSTATEIMAGEMASK(2))
            return nullptr;
        next();
        if (!PumpUntil([&] { return IsShown(::GetDlgItem(AddonPage(wizard), 101)); }, 5000)) return nullptr;
        return wizard;
    }
    static HWND AddonPage(HWND wizard) { return FindDescendant(wizard, "KestrixAddonPage"); }
    // Next on the add-on's page, then Close on the last page.
    static bool SaveAndClose(HWND wizard) {
        // A click can be lost: it is repeated while the page still shows
        // and nothing has happened.
        HWND close = nullptr;
        for (int attempt = 0; attempt < 3 && !IsShown(close); ++attempt) {
            ClickWindow(FindDescendant(wizard, "Button", "Next  >"));
            PumpUntil([&] { return IsShown(close = FindDescendant(wizard, "Button", "Close")) ||
                                   !IsShown(AddonPage(wizard)); }, 3000);
            PumpUntil([&] { return IsShown(close = FindDescendant(wizard, "Button", "Close")); }, 10000);
        }
        for (int attempt = 0; attempt < 3 && ::IsWindow(wizard); ++attempt) {
            ClickWindow(close);
            PumpUntil([&] { return !::IsWindow(wizard); }, 3000);
        }
        return !::IsWindow(wizard);
    }
    // Copies a saved file beside the test with the selection as a PPM.
    void Keep(const std::wstring& file, const std::string& as, const RECT& sel) {
        ASSERT_TRUE(::CopyFileW(file.c_str(), WideFromUtf8("saved\\" + as).c_str(), FALSE)) << as;
        const int w = sel.right - sel.left, h = sel.bottom - sel.top;
        std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                COLORREF c = PatternColor(sel.left + x, sel.top + y);
                ppm += {static_cast<char>(GetRValue(c)), static_cast<char>(GetGValue(c)),
                        static_cast<char>(GetBValue(c))};
            }
        std::ofstream("saved/" + as.substr(0, as.find('.')) + ".ppm", std::ios::binary) << ppm;
    }

    addon_tests::ScratchFolder folder_{L"kestrix-\u03A9\u03BC\u03AD\u03B3\u03B1-\u6D4B\u8BD5"};
    KernelHandle process_;
    static std::unique_ptr<SavedKey> settings_;
};
std::unique_ptr<SavedKey> SaveToFileScenario::settings_;

TEST_F(SaveToFileScenario, EachFormatSavesTheSelectionAndASecondRunAddsACounter) {
    PatternWindow pattern(0, 60, false);
    const RECT big{300, 300, 500, 450};
    // At most 256 colours, for GIF.
    const RECT small{320, 320, 336, 336};
    struct Run {
        int format;
        RECT sel;
        const wchar_t* file;
        const char* as;
    };
    for (const Run& r : {Run{0, big, L".png", "png.png"}, Run{0, big, L" (2).png", "png2.png"},
                         Run{2, big, L".bmp", "bmp.bmp"}, Run{4, big, L".tif", "tif.tif"},
                         Run{3, small, L".gif", "gif.gif"}, Run{1, big, L".jpg", "jpg.jpg"}}) {
        SetAddon(L"Format", static_cast<DWORD>(r.format));
        HWND wizard = OpenAddonPage(r.sel);
        ASSERT_NE(wizard, nullptr) << r.as;
        // The page shows the remembered folder.
        EXPECT_EQ(WindowText(::GetDlgItem(AddonPage(wizard), 101)), folder_.Path()) << r.as;
        ASSERT_TRUE(SaveAndClose(wizard)) << r.as;
        const std::wstring file = folder_.Path() + L"\\" + kName + r.file;
        ASSERT_TRUE(PumpUntil([&] { return ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; },
                              5000))
            << r.as;
        Keep(file, r.as, r.sel);
    }
    EXPECT_EQ(folder_.Files().size(), 6u) << "no temporary file is left behind";
}

TEST_F(SaveToFileScenario, AFolderThatCannotBeMadeIsExplainedOnThePageUntilItIsMended) {
    PatternWindow pattern(0, 60, false);
    // Under a file no folder can be made.
    const std::wstring blocker = folder_.Path() + L"\\file";
    std::ofstream(std::filesystem::path(blocker)) << "x";
    SetAddon(L"Folder", blocker + L"\\pictures");
    SetAddon(L"Format", 0u);
    const RECT sel{300, 300, 400, 380};
    HWND wizard = OpenAddonPage(sel);
    ASSERT_NE(wizard, nullptr);
    HWND page = AddonPage(wizard);
    ClickWindow(FindDescendant(wizard, "Button", "Next  >"));
    HWND message = ::GetDlgItem(page, 999);
    ASSERT_TRUE(PumpUntil([&] { return IsShown(message) && !WindowText(message).empty(); }, 5000));
    EXPECT_TRUE(IsShown(page)) << "the page stays";
    EXPECT_EQ(folder_.Files().size(), 1u) << "nothing is written";
    // Mended on the page, Next saves.
    ::SendMessageW(::GetDlgItem(page, 101), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(folder_.Path().c_str()));
    ASSERT_TRUE(SaveAndClose(wizard));
    const std::wstring file = folder_.Path() + L"\\" + kName + L".png";
    EXPECT_TRUE(PumpUntil([&] { return ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; },
                          5000));
}

}  // namespace
