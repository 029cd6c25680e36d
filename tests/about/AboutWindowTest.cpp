// The about window, opened as a user opens it: a right-click on the real
// notification icon and a click on "About..." in its menu.
#include "about/AboutUnit.h"
#include "app/KestrixWindow.h"
#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrayDialog.h"
#include "ui/Handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

using namespace ui;
using namespace testing_support;

namespace {

std::string BinDir() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\') + 1);
}

class AboutWindowTest : public testing::Test {
protected:
    void SetUp() override {
        RecordedErrors().clear();
        tray_ = std::make_unique<TKestrixWnd>();
        KestrixWnd = tray_.get();
        POINT pt;
        ASSERT_TRUE(PumpUntil([&] { return TrayIconPoint(pt); }, 5000)) << "no tray window";
        Pump(100);
    }
    void TearDown() override {
        tray_.reset();
        KestrixWnd = nullptr;
        EXPECT_TRUE(RecordedErrors().empty()) << RecordedErrors().front();
    }

    // Opens the about window from the tray menu and runs inside(window) from
    // its modal loop once it shows. True when the window opened and its
    // modal run ended without the watchdog.
    bool OpenFromTray(const std::function<void(TAboutWindow&)>& inside) {
        return testing_support::OpenFromTray<TAboutWindow>("About...", AboutWindow, inside);
    }

    // Gives the window the keyboard before typing into it.
    static void Type(TAboutWindow& w, WORD vk) {
        ::SetForegroundWindow(w.Handle());
        PressKey(vk);
    }

    std::unique_ptr<TKestrixWnd> tray_;
};

TEST_F(AboutWindowTest, ShowsTheProgramsVersionAndEnterClosesIt) {
    std::string version, label, caption;
    RECT client{}, image{}, bevel{};
    bool banner = false, painted = false;
    ASSERT_TRUE(OpenFromTray([&](TAboutWindow& w) {
        version = w.lbVersion.Caption();
        label = w.Label1.Caption();
        char text[64] = {};
        ::GetWindowTextA(w.Handle(), text, sizeof text);
        caption = text;
        ::GetClientRect(w.Handle(), &client);
        image = w.Image.BoundsRect();
        bevel = w.Bevel1.BoundsRect();
        TBitmap& b = w.Image.Picture.Bitmap();
        banner = b.Width() == 360 && b.Height() == 90 && b.PixelFormat() == pf8bit;
        // On the screen: the banner's own pixels, then the sunken line.
        POINT org{0, 0};
        ::ClientToScreen(w.Handle(), &org);
        COLORREF logo = b.PixelColor(40, 45);
        WhenReady(
            [org, logo] {
                return ScreenPixel(org.x + 40, org.y + 45) == logo &&
                       ScreenPixel(org.x + 100, org.y + 90) == ::GetSysColor(COLOR_BTNSHADOW) &&
                       ScreenPixel(org.x + 100, org.y + 91) == ::GetSysColor(COLOR_BTNHIGHLIGHT);
            },
            [&painted] {
                painted = true;
                if (AboutWindow) Type(*AboutWindow, VK_RETURN);
            },
            5000);
    }));
    EXPECT_TRUE(painted);
    EXPECT_EQ(caption, "About Kestrix");
    EXPECT_EQ(label, "Version:");
    EXPECT_EQ(version, "1.0.0.26");
    EXPECT_EQ(client.right, 360);
    EXPECT_EQ(client.bottom, 178);
    EXPECT_EQ(image.left, 0);
    EXPECT_EQ(image.top, 0);
    EXPECT_EQ(image.right, 360);
    EXPECT_EQ(image.bottom, 90);
    EXPECT_EQ(bevel.top, 90);
    EXPECT_EQ(bevel.bottom - bevel.top, 2);
    EXPECT_EQ(bevel.right - bevel.left, 360);
    EXPECT_TRUE(banner);
}

TEST_F(AboutWindowTest, EscapeAndTheCloseButtonCloseIt) {
    EXPECT_TRUE(OpenFromTray([](TAboutWindow& w) { Type(w, VK_ESCAPE); }));
    EXPECT_TRUE(OpenFromTray([](TAboutWindow& w) { ClickWindow(w.btnClose.Handle()); }));
}

TEST_F(AboutWindowTest, EachOpeningIsAFreshInstance) {
    HWND first = nullptr, second = nullptr;
    std::string shown;
    ASSERT_TRUE(OpenFromTray([&](TAboutWindow& w) {
        first = w.Handle();
        w.lbVersion.SetCaption("changed");
        Type(w, VK_RETURN);
    }));
    EXPECT_FALSE(::IsWindow(first));
    ASSERT_TRUE(OpenFromTray([&](TAboutWindow& w) {
        second = w.Handle();
        shown = w.lbVersion.Caption();
        Type(w, VK_ESCAPE);
    }));
    EXPECT_NE(first, second);
    EXPECT_EQ(shown, "1.0.0.26");
}

TEST_F(AboutWindowTest, PlainLabelsLetTheMouseThroughAndAWiderFontPushesTheLineAlong) {
    HWND form = nullptr, atVersion = nullptr, atLink = nullptr, link = nullptr;
    RECT version{}, value{}, download{}, address{};
    ASSERT_TRUE(OpenFromTray([&](TAboutWindow& w) {
        auto hit = [](TControl& c) {
            RECT r;
            ::GetWindowRect(c.Handle(), &r);
            return ::WindowFromPoint(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        };
        form = w.Handle(), link = w.Label3.Handle();
        atVersion = hit(w.Label1), atLink = hit(w.Label3);
        // Wider than the table assumed, as Wine's fonts and other DPI settings are.
        w.Font().SetHeight(w.Font().Height() * 2);
        version = w.Label1.BoundsRect(), value = w.lbVersion.BoundsRect();
        download = w.Label2.BoundsRect(), address = w.Label3.BoundsRect();
        Type(w, VK_ESCAPE);
    }));
    EXPECT_EQ(atVersion, form);
    EXPECT_EQ(atLink, link);
    EXPECT_GT(version.right, 46);
    EXPECT_GE(value.left, version.right);
    EXPECT_GT(download.right, 123);
    EXPECT_GE(address.left, download.right);
}

// Registers the recorder as the shell's handler for the home page's scheme
// and puts the previous handler back afterwards.
class StandInBrowser {
public:
    StandInBrowser(const std::string& scheme, const std::string& log)
        : key_(scheme + "\\shell\\open\\command") {
        char old[1024] = {};
        LONG size = sizeof old;
        had_ = ::RegQueryValueA(HKEY_CLASSES_ROOT, key_.c_str(), old, &size) == ERROR_SUCCESS;
        old_ = old;
        createdScheme_ = !KeyExists(scheme);
        scheme_ = scheme;
        std::string cmd = "\"" + BinDir() + "url_recorder.exe\" \"" + log + "\" \"%1\"";
        ok_ = ::RegSetValueA(HKEY_CLASSES_ROOT, key_.c_str(), REG_SZ, cmd.c_str(),
                             static_cast<DWORD>(cmd.size())) == ERROR_SUCCESS;
    }
    ~StandInBrowser() {
        if (createdScheme_)
            ::RegDeleteTreeA(HKEY_CLASSES_ROOT, scheme_.c_str());
        else if (had_)
            ::RegSetValueA(HKEY_CLASSES_ROOT, key_.c_str(), REG_SZ, old_.c_str(),
                           static_cast<DWORD>(old_.size()));
        else
            ::RegDeleteKeyA(HKEY_CLASSES_ROOT, key_.c_str());
    }
    bool Ok() const { return ok_; }

private:
    static bool KeyExists(const std::string& k) {
        RegKey key;
        return ::RegOpenKeyA(HKEY_CLASSES_ROOT, k.c_str(), key.put()) == ERROR_SUCCESS;
    }
    std::string key_, scheme_, old_;
    bool had_ = false, createdScheme_ = false, ok_ = false;
};

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST_F(AboutWindowTest, TheLinkOpensTheHomePageAndLeavesTheWindowOpen) {
    const std::string page = kHomePage;
    const std::string log = BinDir() + "url_recorder.log";
    ::DeleteFileA(log.c_str());
    StandInBrowser browser(page.substr(0, page.find(':')), log);
    ASSERT_TRUE(browser.Ok());

    std::string caption;
    bool underlined = false, blue = false, handCursor = false, openAfterClick = false;
    int bluePixels = 0, longestBlueRow = 0, width = 0;
    ASSERT_TRUE(OpenFromTray([&](TAboutWindow& w) {
        caption = w.Label3.Caption();
        LOGFONTA lf{};
        ::GetObjectA(reinterpret_cast<HGDIOBJ>(::SendMessageA(w.Label3.Handle(), WM_GETFONT, 0, 0)),
                     sizeof lf, &lf);
        underlined = lf.lfUnderline != 0;
        blue = w.Label3.Font().Color() == clBlue;
        // What is on the screen, once painted: blue text and a blue line under it.
        RECT rc;
        ::GetWindowRect(w.Label3.Handle(), &rc);
        width = rc.right - rc.left;
        auto measure = [&, rc] {
            bluePixels = longestBlueRow = 0;
            for (int y = rc.top; y < rc.bottom; ++y) {
                int row = 0;
                for (int x = rc.left; x < rc.right; ++x)
                    if (ScreenPixel(x, y) == RGB(0, 0, 255)) ++row, ++bluePixels;
                longestBlueRow = std::max(longestBlueRow, row);
            }
            return bluePixels > 50;
        };
        auto clickLink = [&, rc] {
            handCursor = true;
            MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
            WhenReady([&] { return ReadFile(log).find('\n') != std::string::npos; },
                      [&] {
                          // Give a wrongly closing window the time to go.
                          Pump(200);
                          openAfterClick = AboutWindow && AboutWindow->Visible();
                          if (AboutWindow) Type(*AboutWindow, VK_ESCAPE);
                      });
        };
        WhenReady(measure,
                  [&, rc, clickLink] {
                      MouseMoveTo((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
                      WhenReady([] { return ::GetCursor() == CursorHandle(crHandPoint); },
                                clickLink, 5000);
                  },
                  5000);
    }));
    EXPECT_EQ(caption, page);
    EXPECT_TRUE(underlined);
    EXPECT_TRUE(blue);
    EXPECT_GT(bluePixels, 50);
    EXPECT_GE(longestBlueRow, width * 9 / 10) << "no underline";
    EXPECT_TRUE(handCursor);
    EXPECT_TRUE(openAfterClick);
    EXPECT_EQ(ReadFile(log), page + "\n");
    ::DeleteFileA(log.c_str());
}

}  // namespace
