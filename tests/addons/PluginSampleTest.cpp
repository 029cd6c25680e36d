// The plug-in authors' sample (docs/sample), built on its own from its
// folder, installed with regsvr32 and run by the plug-in host and by the
// wizard, through their real windows.
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "settings/SettingsStore.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TrayDialog.h"
#include "tests/support/WizardRun.h"
#include "ui/BitmapFile.h"
#include "ui/Strings.h"
#include "wizard/AfterScreenShotWindowUnit.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ui;
using namespace testing_support;
using namespace addon_tests;

namespace {

const char kSampleId[] = "{7E080D07-5F36-4A76-B0B1-B823384AB714}";
const char kSampleDll[] = "KestrixSample.dll";
// The ids of the sample page's controls.
enum { kFileId = 2, kReplaceId = 3, kMessageId = 4 };

struct ChildSearch {
    const char* cls;
    const char* text;
    HWND found;
};
BOOL CALLBACK MatchChild(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<ChildSearch*>(lp);
    char name[64] = {}, caption[64] = {};
    ::GetClassNameA(w, name, sizeof name);
    ::GetWindowTextA(w, caption, sizeof caption);
    if (_stricmp(name, s->cls) == 0 && (!s->text || std::string(caption) == s->text)) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}
// A window below parent of that class (and caption).
HWND FindChild(HWND parent, const char* cls, const char* text = nullptr) {
    ChildSearch search{cls, text, nullptr};
    ::EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ItemText(HWND page, int id) {
    wchar_t text[512] = {};
    ::GetDlgItemTextW(page, id, text, 512);
    return text;
}

// The colours of a bitmap file's pixels, as Windows reads it.
std::vector<COLORREF> Pixels(const std::wstring& path, int& w, int& h) {
    GdiObject bitmap(::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                  LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    BITMAP info = {};
    if (!bitmap || !::GetObjectW(bitmap.get(), sizeof info, &info)) return {};
    w = info.bmWidth;
    h = info.bmHeight;
    MemDc dc(::CreateCompatibleDC(nullptr));
    SelectGuard select(dc.get(), bitmap.get());
    std::vector<COLORREF> pixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels.push_back(::GetPixel(dc.get(), x, y));
    return pixels;
}

class SampleTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, Regsvr32(kSampleDll, true)); }
    void TearDown() override { Regsvr32(kSampleDll, false); }
};

TEST_F(SampleTest, Regsvr32ListsThePluginAndTakesEverythingBack) {
    const std::string pluginKey = std::string(kPluginsKey) + "\\" + kSampleId;
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, pluginKey));
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "KestrixSample.Options\\CLSID"),
              "{76A05483-EF05-413E-841B-9326EA1F292D}");
    ASSERT_EQ(0, Regsvr32(kSampleDll, false));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, pluginKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kSampleId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "KestrixSample.Options"));
}

// The host in a process of its own, driven through its window: a choice the
// page refuses, a run that writes the picture, a failing run that the user
// reads about, and a run after the page's choice is corrected.
TEST_F(SampleTest, TheHostShowsThePageRunsSaveSettingsAndExecuteAndShowsTheErrors) {
    ScratchFolder folder(L"kestrix-sample-test");
    const std::wstring source = folder.Path() + L"\\in.bmp";
    const std::wstring target = folder.Path() + L"\\out.bmp";
    const auto bytes = BitmapFile(37, 21, 8, [](int x, int y) { return DWORD((x * 7 + y * 3) % 256); });
    WriteBytes(source, std::string(bytes.begin(), bytes.end()));

    ChildProcess host(ProgramCommand(WideFromUtf8(BinPath("KestrixPluginHost.exe"))) + L" " +
                      WideString(kSampleId) + L" \"" + source + L"\"");
    ASSERT_TRUE(host.Started());
    HWND form = nullptr, page = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        form = WindowOfProcess(host.Id(), "TPluginHostWindow", true);
        page = form ? FindChild(form, "KestrixSamplePage") : nullptr;
        return page && ::GetDlgItem(page, kReplaceId);
    }, 20000)) << host.Output();
    HWND next = FindChild(form, "Button", "Next  >");
    HWND edit = ::GetDlgItem(page, kFileId);
    ASSERT_TRUE(next && edit);
    auto runNext = [&] { ::SendMessageW(next, BM_CLICK, 0, 0); };

    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"out.bmp"));
    runNext();
    EXPECT_TRUE(PumpUntil([&] { return !ItemText(page, kMessageId).empty(); }));
    EXPECT_TRUE(folder.Files().size() == 1);

    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
    runNext();
    ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(target); }, 10000)) << host.Output();
    int w = 0, h = 0;
    const std::vector<COLORREF> got = Pixels(target, w, h);
    ASSERT_EQ(w * 100 + h, 37 * 100 + 21);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const DWORD c = PaletteColour((x * 7 + y * 3) % 256);
            ASSERT_EQ(got[y * w + x], RGB(c >> 16, (c >> 8) & 0xFF, c & 0xFF)) << x << "," << y;
        }

    // The page came afresh; running it again meets the file written before.
    ASSERT_TRUE(PumpUntil([&] { return (page = FindChild(form, "KestrixSamplePage")) != nullptr; }));
    edit = ::GetDlgItem(page, kFileId);
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
    ::PostMessageW(next, BM_CLICK, 0, 0);
    HWND box = MessageBoxOf(host.Id());
    ASSERT_NE(box, nullptr) << host.Output();
    const std::wstring said = MessageBoxText(box);
    EXPECT_NE(said.find(L"Cannot write the picture to \"" + target + L"\""), std::wstring::npos)
        << Utf8(said);
    ::PostMessageW(box, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(box); }));
    EXPECT_EQ(folder.Files().size(), 2u);  // nothing half-written beside the two

    ::SendMessageW(::GetDlgItem(page, kReplaceId), BM_CLICK, 0, 0);
    runNext();
    ::PostMessageW(FindChild(form, "Button", "Cancel"), BM_CLICK, 0, 0);
    EXPECT_EQ(host.Wait(20000), 0) << host.Output();

    // The calls, in the order the wizard makes them.
    const std::string out = host.Output();
    size_t at = 0;
    for (const char* step :
         {"GetPluginInfo: status 0x00000000", "SetPlugin: status 0x00000000",
          "DoVerb(OLEIVERB_SHOW)", "SaveSettings: status 0x00000000, Result 0x80004005",
          "SaveSettings: status 0x00000000, Result 0x00000000",
          "Execute: status 0x00000000, Result 0x00000000 (picture of 37 x 21 pixels",
          "Execute: status 0x80070050", "Execute: status 0x00000000"}) {
        at = out.find(step, at);
        ASSERT_NE(at, std::string::npos) << step << "\n" << out;
    }
}

// The wizard with the sample as its only checked plug-in.
class SampleWizardTest : public SampleTest {
protected:
    void SetUp() override {
        SampleTest::SetUp();
        KestrixObjectFactory().RegisterClassObject();
        list_ = CheckedPluginsPath();
        savedList_ = ReadBytes(list_);
        WriteBytes(list_, std::string(kSampleId) + "\r\n");
        DWORD off = 0;
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "QuickMode", REG_DWORD, &off, sizeof off);
        RecordedErrors().clear();
    }
    void TearDown() override {
        if (savedList_ == "<missing>")
            std::filesystem::remove(list_);
        else
            WriteBytes(list_, savedList_);
        KestrixObjectFactory().RevokeClassObject();
        SampleTest::TearDown();
    }
    // The wizard on the picture, running the steps once it shows.
    static bool Run(TBitmap& picture, std::function<std::vector<Step>(TAfterScreenShotWindow&)> steps) {
        TAfterScreenShotWindow wizard;
        wizard.ScreenShot.Picture.Bitmap().Assign(picture);
        return RunWizard(wizard, steps);
    }

    std::filesystem::path list_;
    std::string savedList_;
    SavedKey settings_{kSettingsKey};
};

TEST_F(SampleWizardTest, TabEntersAndLeavesThePageBothWaysAndExecuteGetsThePicture) {
    ScratchFolder folder(L"kestrix-sample-wizard");
    const std::wstring target = folder.Path() + L"\\shot.bmp";
    TBitmap picture(61, 37, pf24bit);
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 61; ++x)
            picture.Canvas().SetPixels(x, y, static_cast<TColor>(RGB(x * 4, y * 7, (x ^ y) * 8)));

    std::vector<std::string> visits;
    RECT pageRect{}, containerRect{};
    const bool closed = Run(picture, [&](TAfterScreenShotWindow& w) -> std::vector<Step> {
        auto page = [&w] { return FindChild(w.PluginContainer.Handle(), "KestrixSamplePage"); };
        auto where = [&w, page] {
            HWND f = ::GetFocus();
            if (page() && f == ::GetDlgItem(page(), kFileId)) return std::string("file");
            if (page() && f == ::GetDlgItem(page(), kReplaceId)) return std::string("replace");
            if (f == w.Back.Handle()) return std::string("Back");
            if (f == w.Finalize.Handle()) return std::string("Cancel");
            return std::string("elsewhere");
        };
        auto key = [&, where](bool shift, const char* to) {
            return Step{[&w, shift] {
                            ::SetForegroundWindow(w.Handle());
                            if (shift)
                                PressKeys({VK_SHIFT, VK_TAB});
                            else
                                PressKey(VK_TAB);
                        },
                        [&visits, where, to] {
                            if (where() != to) return false;
                            visits.push_back(to);
                            return true;
                        },
                        1};
        };
        return {Step{[&w] { ClickWindow(w.Next.Handle()); }, [&w] { return w.Notebook.PageIndex() == 1; }, 2},
                Step{[&w] { ClickWindow(w.Next.Handle()); }, [&w] { return w.Notebook.PageIndex() == 2; }, 2},
                {[] {}, [page] { return page() != nullptr; }},
                // The page is the whole container, at the system's DPI.
                {[&w, page, &pageRect, &containerRect] {
                     ::GetWindowRect(page(), &pageRect);
                     ::GetWindowRect(w.PluginContainer.Handle(), &containerRect);
                     w.Finalize.SetFocus();
                 }},
                key(false, "file"), key(false, "replace"), key(false, "Back"),
                key(true, "replace"), key(true, "file"), key(true, "Cancel"),
                {[page, &target] {
                     ::SetDlgItemTextW(page(), kFileId, target.c_str());
                 }},
                Step{[&w] { ClickWindow(w.Next.Handle()); }, [&w] { return w.Notebook.PageIndex() == 3; }, 2},
                Step{[&w] { ClickWindow(w.Finalize.Handle()); }}};
    });
    EXPECT_TRUE(closed) << "the wizard was left open";
    EXPECT_TRUE(::EqualRect(&pageRect, &containerRect));
    WindowDc screen(nullptr);
    EXPECT_EQ(containerRect.right - containerRect.left,
              ::MulDiv(542, ::GetDeviceCaps(screen.get(), LOGPIXELSX), 96));
    EXPECT_EQ(visits, (std::vector<std::string>{"file", "replace", "Back", "replace", "file", "Cancel"}));
    EXPECT_TRUE(RecordedErrors().empty()) << (RecordedErrors().empty() ? "" : RecordedErrors()[0]);

    // The file holds exactly the bitmap file that the wizard handed over.
    ComPtr<IStream> stream = BitmapFileStream(picture);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::string expected(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    ULONG read = 0;
    stream->Read(expected.data(), static_cast<ULONG>(expected.size()), &read);
    EXPECT_TRUE(ReadFile(target) == expected) << ReadFile(target).size() << " bytes";
}

}  // namespace
