// The shipped Save-to-file page inside the real wizard, driven with real
// keys: the keyboard leaves the page at its edges and the wizard tells the
// page at each crossing.
#include "addons/SaveToFile/SaveToFileOptions.h"
#include "addons/common/AddonSettings.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "settings/SettingsStore.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TrayDialog.h"
#include "wizard/AfterScreenShotWindowUnit.h"

#include <gtest/gtest.h>

using namespace ui;
using namespace testing_support;
using namespace save_to_file;

namespace {

const char kDll[] = "KestrixSaveToFile.dll";

// Where the keyboard was when the steps stopped.
std::string lastFocus;
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) {
    char text[64] = {};
    ::GetWindowTextA(::GetFocus(), text, sizeof text);
    lastFocus = text;
    if (AfterScreenShotWindow) AfterScreenShotWindow->ModalResult = mrCancel;
}

TEST(SaveToFilePageKeyboard, TabLeavesThePageAtItsEdgesAndEachCrossingIsNotified) {
    SavedKey plugins(kPluginsKey), settings(kSettingsKey),
        addon("Software\\Orvane\\Kestrix\\Addons\\SaveToFile");
    const std::wstring list = CheckedPluginsPath();
    const std::string savedList = ReadBytes(list);
    ASSERT_EQ(0, addon_tests::Regsvr32(kDll, true));
    KestrixObjectFactory().RegisterClassObject();
    WriteBytes(list, "{EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}\r\n");
    const DWORD off = 0;
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "QuickMode", REG_DWORD, &off, sizeof off);
    // JPEG: the quality field, followed by its spin button, is the last field.
    addon_tests::ScratchFolder folder;
    addons::TAddonKey(kAddonName, true).WriteNumber(L"Format", 1);
    addons::TAddonKey(kAddonName, true).WriteString(L"Folder", folder.Path());
    RecordedErrors().clear();

    auto w = std::make_unique<TAfterScreenShotWindow>();
    AfterScreenShotWindow = w.get();
    w->ScreenShot.Picture.Bitmap().SetPixelFormat(pf24bit);
    w->ScreenShot.Picture.Bitmap().SetSize(40, 30);
    // The wizard's Notify calls, counted on their way.
    int entered = 0, left = 0;
    w->PluginContainer.OnEnter = [&, was = w->PluginContainer.OnEnter](TControl* c) { ++entered, was(c); };
    w->PluginContainer.OnExit = [&, was = w->PluginContainer.OnExit](TControl* c) { ++left, was(c); };

    HWND page = nullptr;
    auto field = [&](int id) { return [&, id] { return ::GetDlgItem(page, id); }; };
    auto at = [](std::function<HWND()> wnd) { return [wnd] { return ::GetFocus() == wnd(); }; };
    auto button = [](TControl& c) { return [&c] { return c.Handle(); }; };
    auto keys = [&w](std::function<void()> press, std::function<bool()> until) {
        return Step{[&w, press] {
                        ::SetForegroundWindow(w->Handle());
                        press();
                    },
                    until, 1};
    };
    auto tab = [] { PressKey(VK_TAB); };
    auto backTab = [] { PressKeys({VK_SHIFT, VK_TAB}); };
    bool finished = false;
    WhenReady([&] { return w->Visible() && !w->Timer.Enabled(); }, [&] {
        ::SetForegroundWindow(w->Handle());
        RunSteps({
            {[&] { ClickWindow(w->Next.Handle()); }, [&] { return w->Notebook.PageIndex() == 1; }, 2},
            {[&] { ClickWindow(w->Next.Handle()); }, [&] {
                 page = ::FindWindowExW(w->PluginContainer.Handle(), nullptr, L"KestrixAddonPage", nullptr);
                 return page && ::IsWindowVisible(page);
             }, 2},
            // The last field: Tab goes on to the wizard's buttons.
            {[&] { ClickWindow(field(idQuality)()); }, [&] { return at(field(idQuality))() && entered == 1; }, 2},
            keys(tab, [&] { return at(button(w->Back))() && left == 1; }),
            keys(tab, at(button(w->Next))),
            // The first field: Shift+Tab goes back to the wizard's Cancel.
            {[&] { ClickWindow(field(idFolder)()); }, [&] { return at(field(idFolder))() && entered == 2; }, 2},
            keys(backTab, [&] { return at(button(w->Finalize))() && left == 2; }),
            // Tab from Cancel comes back in at the first field; inside, Tab,
            // Shift+Tab and mnemonics stay in the page.
            keys(tab, [&] { return at(field(idFolder))() && entered == 3; }),
            keys(tab, at(field(idBrowse))),
            keys([] { PressKeys({VK_MENU, 'N'}); }, at(field(idPattern))),
            keys(backTab, [&] { return at(field(idBrowse))() && entered == 3 && left == 2; }),
            // Enter in a field is the wizard's Next: the picture is saved.
            keys(tab, at(field(idPattern))),
            keys([] { PressKey(VK_RETURN); }, [&] { return w->Notebook.PageIndex() == 3; }),
            {[&] {
                 finished = true;
                 ClickWindow(w->Finalize.Handle());
             }},
        });
    });
    UINT_PTR dog = ::SetTimer(nullptr, 0, 20000, &GiveUp);
    w->ShowModal();
    ::KillTimer(nullptr, dog);
    CancelWhenReady();
    AfterScreenShotWindow = nullptr;
    w.reset();

    KestrixObjectFactory().RevokeClassObject();
    ::CoFreeUnusedLibrariesEx(0, 0);
    addon_tests::Regsvr32(kDll, false);
    if (savedList == "<missing>")
        std::filesystem::remove(list);
    else
        WriteBytes(list, savedList);

    EXPECT_EQ(folder.Files().size(), 1u);
    EXPECT_TRUE(finished) << "entered " << entered << ", left " << left << ", focus on \"" << lastFocus << '"';
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
}

}  // namespace
