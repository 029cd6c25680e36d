// Capture costs against bare blits of the same size (from the capture key
// too); the resident program's memory against an idle empty message loop,
// and after quick-mode wizard runs (with the test plug-in and with the
// authors' sample) against before them; the window snapshot taken at the
// freeze against the capture's blit. Prints ratios.
#include "bench/BenchTiming.h"
#include "bench/HostProcess.h"
#include "bench/ScreenBlit.h"
#include "app/KestrixWindow.h"
#include "capture/WindowSnapshot.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/PluginDirectory.h"
#include "tests/e2e/ProgramDriver.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace ui;
using namespace testing_support;

using namespace bench;

namespace {

void EndCaptureNow(TKestrixWnd& wnd) {
    ::PostMessageA(wnd.Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PumpUntil([&] { return !wnd.Capturing(); }, 3000);
    Pump(50);
}

void CaptureRatio() {
    TKestrixWnd wnd;
    HWND target = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, Screen.Width(),
                                    Screen.Height(), nullptr, nullptr, nullptr, nullptr);
    Pump(200);
    const Runs runs = Measure(15, [&](int) {
        SettleDisplay();
        const double bare = BareBlit(RECT{0, 0, Screen.Width(), Screen.Height()}, target);
        // What the blit painted back reaches the display first, not during
        // the capture's own blit.
        SettleDisplay();
        const double capture = Once([&] {
            wnd.TakeScreenshot();
            ::GdiFlush();
        });
        EndCaptureNow(wnd);
        return std::pair{capture, bare};
    });
    ::DestroyWindow(target);
    std::printf("capture of %dx%d: TakeScreenshot %.2f ms, bare blit and back %.2f ms (medians)\n",
                Screen.Width(), Screen.Height(), runs.Cost() * 1e3, runs.Base() * 1e3);
    Report("capture/bare-blit", "ratio capture / bare blit", runs.Ratio(), 1.3);
}

// The windows taken at the freeze, on a busy desktop (sixty windows of eight
// controls each), against the capture's own blit of the screen.
void WindowSnapshotRatio() {
    std::vector<Window> windows;
    for (int i = 0; i < 60; ++i) {
        windows.emplace_back(::CreateWindowExA(0, "STATIC", "", WS_POPUP, (i % 10) * 90,
                                               (i / 10) * 90, 300, 200, nullptr, nullptr,
                                               nullptr, nullptr));
        for (int c = 0; c < 8; ++c)
            ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, c * 30, c * 20, 60, 30,
                              windows.back().get(), nullptr, nullptr, nullptr);
        ::ShowWindow(windows.back().get(), SW_SHOWNOACTIVATE);
    }
    Pump(200);
    const RECT desktop = Screen.DesktopRect();
    TWindowSnapshot snapshot;
    snapshot.Take(desktop, nullptr);
    const Runs runs = Measure(15, [&](int) {
        SettleDisplay();
        const double bare = BareBlit(desktop, nullptr);
        return std::pair{Once([&] { snapshot.Take(desktop, nullptr); }), bare};
    });
    std::printf("window snapshot of %d windows: %.3f ms, bare blit %.2f ms (medians)\n",
                static_cast<int>(windows.size()), runs.Cost() * 1e3, runs.Base() * 1e3);
    Report("capture/window-snapshot", "ratio window snapshot / bare blit", runs.Ratio(), 0.1);
}

// From a press of the capture key to the frozen picture on the screen,
// against a bare blit of the virtual screen and showing a window of its size.
void CaptureKeyRatio() {
    const int x = ::GetSystemMetrics(SM_XVIRTUALSCREEN), y = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int w = ::GetSystemMetrics(SM_CXVIRTUALSCREEN), h = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    TKestrixWnd wnd;
    HWND shown = ::CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, x, y, w, h, nullptr,
                                   nullptr, nullptr, nullptr);
    Pump(200);
    bool lost = false;
    // What the key adds to the capture itself.
    Runs direct;
    const Runs runs = Measure(kRuns * 2 + 1, [&](int) {
        SettleDisplay();
        const double bare = BareBlitAndShow(RECT{x, y, x + w, y + h}, shown);
        SettleDisplay();
        // The program paints the frozen copy before it takes the next
        // message, so the clock stops as the message that started the
        // capture returns, not once the queue behind it is drained.
        const double key = Once([&] {
            PressKey(VK_SNAPSHOT);
            const DWORD start = ::GetTickCount();
            while (!wnd.Capturing() && ::GetTickCount() - start < 3000) {
                MSG msg;
                if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageA(&msg);
                } else {
                    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                }
            }
            lost = lost || !wnd.Capturing();
            ::GdiFlush();
        });
        EndCaptureNow(wnd);
        direct.Add(key, Once([&] {
            wnd.TakeScreenshot();
            ::GdiFlush();
        }));
        EndCaptureNow(wnd);
        return std::pair{key, bare};
    });
    ::DestroyWindow(shown);
    if (lost) std::printf("capture key: a press did not start a capture\n");
    std::printf("capture key on %dx%d: press to frozen picture %.2f ms, bare blit and show %.2f ms "
                "(medians)\n",
                w, h, runs.Cost() * 1e3, runs.Base() * 1e3);
    Report("capture-key/blit-and-show", "ratio key press to picture / bare blit and show",
           runs.Ratio(), 1.3);
    Report("", "ratio key press to picture / the capture called directly", direct.Ratio());
}

// Where a capture's time goes, step by step, on a window of our own.
void CapturePhases() {
    const int w = Screen.Width(), h = Screen.Height();
    TKestrixWnd wnd;
    std::vector<double> grab, copy, show, paint;
    for (int i = 0; i < 7; ++i) {
        TBitmap bmp(w, h);
        double t0 = Now();
        {
            WindowDc screen(nullptr);
            TCanvas::Lease d(bmp.Canvas());
            ::BitBlt(d.get(), 0, 0, w, h, screen.get(), 0, 0, SRCCOPY);
            ::GdiFlush();
        }
        double t1 = Now();
        wnd.SetBounds(0, 0, w, h);
        wnd.Show();
        double t2 = Now();
        wnd.Image.Picture.Bitmap().Assign(bmp);
        double t3 = Now();
        ::RedrawWindow(wnd.Image.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ::GdiFlush();
        double t4 = Now();
        grab.push_back(t1 - t0);
        show.push_back(t2 - t1);
        copy.push_back(t3 - t2);
        paint.push_back(t4 - t3);
        wnd.Hide();
        wnd.Image.Picture.Bitmap().FreeImage();
        Pump(50);
    }
    std::printf("capture steps: screen copy %.2f ms, show %.2f ms, picture copy %.2f ms, "
                "paint %.2f ms\n",
                Median(grab) * 1e3, Median(show) * 1e3, Median(copy) * 1e3, Median(paint) * 1e3);
}

void RubberBandRatio() {
    const int w = 3840, h = 2160;
    TKestrixWnd wnd;
    wnd.TakeScreenshot();
    // A 4K frozen picture on a 4K window, larger than this display.
    wnd.Image.Picture.Bitmap().SetSize(w, h);
    wnd.SetBounds(0, 0, w, h);
    Pump(100);
    HWND img = wnd.Image.Handle();
    ::SendMessageA(img, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
    int x = 1500;
    // A run: the median of 25 steps against one full repaint.
    const Runs runs = Measure(9, [&](int) {
        std::vector<double> steps;
        for (int i = 0; i < 25; ++i, ++x)
            steps.push_back(Once([&] {
                ::SendMessageA(img, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, 900 + (x - 1500) / 2));
                ::GdiFlush();
            }));
        const double full = Once([&] {
            ::RedrawWindow(img, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            ::GdiFlush();
        });
        return std::pair{Median(steps), full};
    });
    std::printf("rubber band on %dx%d: one step %.3f ms, full repaint %.2f ms (medians)\n", w, h,
                runs.Cost() * 1e3, runs.Base() * 1e3);
    Report("rubber-band/repaint", "ratio step / full repaint", runs.Ratio(), 0.05);
    EndCaptureNow(wnd);
}

// ---- memory of the resident program, read from the host side ----

HostMemory IdleMemory(const std::string& exe, bool waitForTray, const char* args = "") {
    std::string cmd = "\"" + exe + "\"" + args;
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        return {};
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    ::WaitForInputIdle(pi.hProcess, 10000);
    if (waitForTray) PumpUntil([] { return ::FindWindowA("__winex11_standalone_tray", nullptr); }, 10000);
    Pump(1500);
    HostMemory m = HostMemoryOf(exe);
    ::TerminateProcess(pi.hProcess, 0);
    ::WaitForSingleObject(pi.hProcess, 5000);
    return m;
}

void MemoryReport() {
    // All started the same way, turn about: the program, an empty loop that
    // has loaded OLE, the shell and the common controls, and a bare one.
    Runs priv, rss, bare, served;
    for (int i = 0; i < kRuns; ++i) {
        const HostMemory loop = IdleMemory(BinPath("empty_loop.exe"), false);
        const HostMemory server = IdleMemory(BinPath("empty_loop.exe"), false, " /server");
        const HostMemory plain = IdleMemory(BinPath("kestrix_idle.exe"), false);
        const HostMemory prog = IdleMemory(BinPath("kestrix.exe"), true);
        if (!loop.Read() || !server.Read() || !plain.Read() || !prog.Read()) {
            std::printf("memory: the host's process figures cannot be read here\n");
            return;
        }
        priv.Add(prog.privateKb, loop.privateKb);
        rss.Add(prog.rssKb, loop.rssKb);
        bare.Add(prog.privateKb, plain.privateKb);
        served.Add(prog.privateKb, server.privateKb);
    }
    std::printf("idle after the first trim: private %.0f KiB, working set %.0f KiB; empty message "
                "loop with OLE, shell and common controls: private %.0f KiB, working set %.0f KiB; "
                "bare message loop: private %.0f KiB (medians)\n",
                priv.Cost(), rss.Cost(), priv.Base(), rss.Base(), bare.Base());
    Report("idle-private-over-loop-KiB", "private KiB over the empty loop", priv.Difference(), 1024);
    Report("", "ratio private to the empty loop", priv.Ratio());
    Report("", "ratio working set to the empty loop", rss.Ratio());
    Report("", "ratio private to the bare loop", bare.Ratio());
    // What is the program's own: the loop with a hidden window, an icon and
    // a published class object has what a tray server cannot do without.
    std::printf("empty loop as a tray server: private %.0f KiB (median)\n", served.Base());
    Report("", "private KiB over the empty loop as a tray server", served.Difference());
}

// The program's memory before and after quick-mode wizard runs with one
// checked plug-in, from outside: started as a user starts it, idle, then
// captures made through its icon, each handed to the plug-in with Next.
// install(true) registers the plug-in, install(false) takes it back.
struct WizardMemory {
    bool installed = false;
    long before = -1, afterOne = -1, after = -1;  // private KiB
    int closed = 0;                               // wizards that closed
    bool Read() const { return before >= 0 && afterOne >= 0 && after >= 0; }
};

WizardMemory WizardRunsMemory(const CLSID& plugin, const std::function<bool(bool)>& install, int runs,
                              const std::function<void()>& beforeRun = [] {}) {
    const char kSettings[] = "Software\\Orvane\\Kestrix";
    SavedKey settings(kSettings), plugins(kPluginsKey);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kPluginsKey);
    WizardMemory m;
    m.installed = install(true);
    if (!m.installed) return m;
    for (auto [name, value] : {std::pair{"QuickMode", 1}, {"LeaveInClipboard", 0}})
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettings, name, REG_DWORD, &value, sizeof value);
    WriteCheckedPlugins(CheckedPluginsPath(), {plugin});
    const std::string exe = BinPath("kestrix.exe");
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        KernelHandle process(pi.hProcess), thread(pi.hThread);
        POINT icon;
        PumpUntil([&] { return TrayIconPoint(icon); }, 20000);
        // One run: the wizard opens on the plug-in's page; Next runs it and
        // the wizard closes.
        auto run = [&](int i) {
            beforeRun();
            const int x = 100 + 8 * i;
            HWND wizard = CaptureSelection(RECT{x, 120, x + 300, 320});
            if (!wizard) return;
            HWND next = Wait([&] {
                return IsShown(Inside(wizard, "TOleContainer")) ? FindDescendant(wizard, "Button", "Next  >") : nullptr;
            });
            for (int attempt = 0; attempt < 3 && ::IsWindow(wizard); ++attempt) {
                ClickWindow(next);
                PumpUntil([&] { return !::IsWindow(wizard); }, 5000);
            }
            m.closed += !::IsWindow(wizard);
        };
        auto settled = [&] {
            Pump(1500);
            return HostMemoryOf(exe).privateKb;
        };
        m.before = settled();
        run(0);
        m.afterOne = settled();
        for (int i = 1; i < runs; ++i) run(i);
        m.after = settled();
        if (HWND main = WindowOfProcess(pi.dwProcessId, "TKestrixWnd")) ::PostMessageA(main, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
    }
    install(false);
    return m;
}

// With the test plug-in.
void WizardMemoryReport() {
    test_plugin::ClearLog();
    const WizardMemory m = WizardRunsMemory(
        test_plugin::CLSID_TestPluginA, [](bool on) { return test_plugin::RunRegsvr32(on) == 0; }, 20);
    if (!m.installed) {
        std::printf("wizard memory: the test plug-in cannot be installed here\n");
        return;
    }
    int runs = 0;
    for (const std::string& line : test_plugin::LogLines()) runs += line.find(" Execute ") != std::string::npos;
    if (!m.Read()) {
        std::printf("wizard memory: the host's process figures cannot be read here\n");
        return;
    }
    // One sequence of runs, each on the one before: one measurement.
    std::printf("program's memory around quick-mode wizard runs: private %ld KiB idle, %ld KiB after "
                "the first, %ld KiB after 20 (%d wizards closed, %d plug-in runs logged)\n",
                m.before, m.afterOne, m.after, m.closed, runs);
    Report("wizard-memory-after-1-KiB", "growth after one run, KiB", SpreadOf({double(m.afterOne - m.before)}),
           512);
    Report("wizard-memory-after-20-KiB", "growth after 20 runs, KiB", SpreadOf({double(m.after - m.before)}), 512);
}

// With the authors' sample plug-in, built apart from the program as an
// author builds it: its DLL stays in the program, linked as it is linked.
void SampleWizardMemoryReport() {
    const CLSID sample = {0x7E080D07, 0x5F36, 0x4A76, {0xB0, 0xB1, 0xB8, 0x23, 0x38, 0x4A, 0xB7, 0x14}};
    auto install = [](bool on) {
        ChildProcess regsvr32(std::string("regsvr32.exe /s ") + (on ? "" : "/u ") + "\"" +
                              BinPath("KestrixSample.dll") + "\"");
        return regsvr32.Started() && regsvr32.Wait(60000) == 0;
    };
    // The file its page names, which it does not replace unless told to.
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring written = std::wstring(temp) + L"KestrixSample.bmp";
    ::DeleteFileW(written.c_str());
    int files = 0;
    const WizardMemory m = WizardRunsMemory(sample, install, 11, [&] {
        files += ::DeleteFileW(written.c_str()) != 0;
    });
    files += ::DeleteFileW(written.c_str()) != 0;
    if (!m.installed || !m.Read()) {
        std::printf("wizard memory with the sample plug-in: not measured here\n");
        return;
    }
    std::printf("program's memory around quick-mode wizard runs with the sample plug-in: private "
                "%ld KiB idle, %ld KiB after the first, %ld KiB after 11 (%d wizards closed, %d files "
                "written)\n",
                m.before, m.afterOne, m.after, m.closed, files);
    Report("wizard-memory-sample-after-1-KiB", "growth after one run with the sample, KiB",
           SpreadOf({double(m.afterOne - m.before)}), 512);
    Report("", "growth after 11 runs with the sample, KiB", SpreadOf({double(m.after - m.before)}));
}

}  // namespace

int main() {
    ::SetProcessDPIAware();
    Application.SetTitle("Kestrix");
    Application.OnException = [](const std::string& text) {
        std::printf("error: %s\n", text.c_str());
    };
    WindowSnapshotRatio();
    CaptureRatio();
    CaptureKeyRatio();
    CapturePhases();
    RubberBandRatio();
    MemoryReport();
    WizardMemoryReport();
    SampleWizardMemoryReport();
    return 0;
}
