// Capture costs against bare blits of the same size, and the resident
// program's memory against an idle empty message loop. Prints ratios.
#include "bench/BenchTiming.h"
#include "app/KestrixWindow.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// The screen into a bitmap and one blit back onto a full-screen window.
double BareBlit(HWND target) {
    int w = Screen.Width(), h = Screen.Height();
    double t0 = Now();
    {
        WindowDc screen(nullptr);
        GdiObject bmp(::CreateCompatibleBitmap(screen.get(), w, h));
        MemDc mem(::CreateCompatibleDC(screen.get()));
        SelectGuard sel(mem.get(), bmp.get());
        ::BitBlt(mem.get(), 0, 0, w, h, screen.get(), 0, 0, SRCCOPY);
        WindowDc dc(target);
        ::BitBlt(dc.get(), 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
        ::GdiFlush();
    }
    return Now() - t0;
}

void CaptureRatio() {
    TKestrixWnd wnd;
    HWND target = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, Screen.Width(),
                                    Screen.Height(), nullptr, nullptr, nullptr, nullptr);
    Pump(200);
    std::vector<double> capture, bare;
    for (int i = 0; i < 15; ++i) {
        bare.push_back(BareBlit(target));
        double t0 = Now();
        wnd.TakeScreenshot();
        ::GdiFlush();
        capture.push_back(Now() - t0);
        EndCaptureNow(wnd);
    }
    ::DestroyWindow(target);
    double c = Median(capture), b = Median(bare);
    std::printf("capture of %dx%d: TakeScreenshot %.2f ms, bare blit and back %.2f ms, "
                "ratio %.2f (target <= 1.3)\n",
                Screen.Width(), Screen.Height(), c * 1e3, b * 1e3, c / b);
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
    std::vector<double> step, full;
    for (int i = 0; i < 200; ++i) {
        double t0 = Now();
        ::SendMessageA(img, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(1500 + i, 900 + i / 2));
        ::GdiFlush();
        step.push_back(Now() - t0);
    }
    for (int i = 0; i < 10; ++i) {
        double t0 = Now();
        ::RedrawWindow(img, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ::GdiFlush();
        full.push_back(Now() - t0);
    }
    double s = Median(step), f = Median(full);
    std::printf("rubber band on %dx%d: one step %.3f ms, full repaint %.2f ms, ratio %.3f "
                "(target <= 0.05)\n",
                w, h, s * 1e3, f * 1e3, s / f);
    EndCaptureNow(wnd);
}

// ---- memory of the resident program, read from the host side ----

struct Memory {
    long privateKb = -1;
    long rssKb = -1;
};

std::string ReadHostFile(const std::string& path) {
    FileHandle f(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr));
    if (!f) return {};
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
    return out;
}

long Field(const std::string& text, const char* name) {
    size_t p = text.find(name);
    return p == std::string::npos ? -1 : std::strtol(text.c_str() + p + std::strlen(name), nullptr, 10);
}

// The host process whose command line names the program (Wine keeps the
// Windows path there).
Memory HostMemoryOf(const char* exeName) {
    Memory m;
    WIN32_FIND_DATAA fd;
    HANDLE find = ::FindFirstFileA("Z:\\proc\\*", &fd);
    if (find == INVALID_HANDLE_VALUE) return m;
    do {
        if (fd.cFileName[0] < '0' || fd.cFileName[0] > '9') continue;
        std::string dir = std::string("Z:\\proc\\") + fd.cFileName;
        std::string cmd = ReadHostFile(dir + "\\cmdline");
        if (cmd.find(exeName) == std::string::npos || cmd.find("bench") != std::string::npos)
            continue;
        std::string roll = ReadHostFile(dir + "\\smaps_rollup");
        m.privateKb = Field(roll, "Private_Dirty:");
        m.rssKb = Field(roll, "Rss:");
        break;
    } while (::FindNextFileA(find, &fd));
    ::FindClose(find);
    return m;
}

Memory IdleMemory(const std::string& exe, const char* name, bool waitForTray) {
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        return {};
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    ::WaitForInputIdle(pi.hProcess, 10000);
    if (waitForTray) PumpUntil([] { return ::FindWindowA("__winex11_standalone_tray", nullptr); }, 10000);
    Pump(1500);
    Memory m = HostMemoryOf(name);
    ::TerminateProcess(pi.hProcess, 0);
    ::WaitForSingleObject(pi.hProcess, 5000);
    return m;
}

void MemoryReport() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);
    Memory base = IdleMemory(dir + "kestrix_idle.exe", "kestrix_idle.exe", false);
    Memory prog = IdleMemory(dir + "kestrix.exe", "kestrix.exe", true);
    if (prog.privateKb < 0 || base.privateKb < 0) {
        std::printf("memory: the host's process figures cannot be read here\n");
        return;
    }
    std::printf("idle after the first trim: private %ld KiB, working set %ld KiB; empty message "
                "loop: private %ld KiB, working set %ld KiB; ratio private %.2f, working set %.2f\n",
                prog.privateKb, prog.rssKb, base.privateKb, base.rssKb,
                double(prog.privateKb) / double(base.privateKb),
                double(prog.rssKb) / double(base.rssKb));
}

}  // namespace

int main() {
    ::SetProcessDPIAware();
    Application.SetTitle("Kestrix");
    Application.OnException = [](const std::string& text) {
        std::printf("error: %s\n", text.c_str());
    };
    CaptureRatio();
    CapturePhases();
    RubberBandRatio();
    MemoryReport();
    return 0;
}
