#include "tests/support/TestSupport.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace ui;

namespace testing_support {

void Pump(DWORD ms) {
    DWORD start = ::GetTickCount();
    PumpUntil([&] { return ::GetTickCount() - start >= ms; }, ms + 1000);
}

bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        // The program's own pump, so that filters, dialog keys and focus
        // events run here as they do there.
        if (!Application.ProcessMessages()) return cond();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

std::vector<std::string>& RecordedErrors() {
    static std::vector<std::string> errors;
    return errors;
}

namespace {
struct Waiter {
    std::function<bool()> cond;
    std::function<void()> fn;
    std::function<void()> onTimeout;
    DWORD deadline;
    UINT_PTR timer;
};
std::unique_ptr<Waiter>& CurrentWaiter() {
    static std::unique_ptr<Waiter> w;
    return w;
}
void CALLBACK WaiterTick(HWND, UINT, UINT_PTR, DWORD) noexcept {
    auto& w = CurrentWaiter();
    if (!w) return;
    bool ready = false;
    try {
        ready = w->cond();
    } catch (...) {
    }
    if (!ready && static_cast<int>(::GetTickCount() - w->deadline) < 0) return;
    ::KillTimer(nullptr, w->timer);
    std::unique_ptr<Waiter> mine = std::move(w);
    if (ready)
        Guarded([&] { mine->fn(); });
    else if (mine->onTimeout)
        Guarded([&] { mine->onTimeout(); });
}
}  // namespace

void WhenReady(std::function<bool()> cond, std::function<void()> fn, DWORD timeoutMs,
               std::function<void()> onTimeout) {
    auto w = std::make_unique<Waiter>();
    w->cond = std::move(cond);
    w->fn = std::move(fn);
    w->onTimeout = std::move(onTimeout);
    w->deadline = ::GetTickCount() + timeoutMs;
    w->timer = ::SetTimer(nullptr, 0, 10, WaiterTick);
    CurrentWaiter() = std::move(w);
}

bool PendingWhenReady() { return CurrentWaiter() != nullptr; }

void CancelWhenReady() {
    if (auto w = std::move(CurrentWaiter())) ::KillTimer(nullptr, w->timer);
}

COLORREF PatternColor(int x, int y, int variant) {
    int r = x & 0xFF;
    int g = y & 0xFF;
    int b = (((x >> 8) & 0x0F) << 4) | ((y >> 8) & 0x0F);
    if (variant) b ^= 0xFF, r ^= 0x55;
    return RGB(r, g, b);
}

long ProcessRssKb() {
    FileHandle f(::CreateFileA("Z:\\proc\\self\\status", GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    if (!f) return -1;
    char buf[8192] = {};
    DWORD n = 0;
    ::ReadFile(f.get(), buf, sizeof buf - 1, &n, nullptr);
    const char* p = std::strstr(buf, "RssAnon:");
    return p ? std::strtol(p + 8, nullptr, 10) : -1;
}

std::filesystem::path RecoveryStorePath() {
    wchar_t* folder = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)))
        path = std::filesystem::path(folder) / L"Kestrix" / L"Recovery";
    ::CoTaskMemFree(folder);
    return path;
}

void ClearRecoveryStore() {
    std::error_code ignored;
    std::filesystem::remove_all(RecoveryStorePath(), ignored);
}

ui::ComPtr<IStream> MemoryStream(const void* data, size_t size) {
    ui::ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return stream;
    ULONG written = 0;
    stream->Write(data, static_cast<ULONG>(size), &written);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

COLORREF ScreenPixel(int x, int y) {
    WindowDc dc(nullptr);
    return ::GetPixel(dc.get(), x, y);
}

PatternWindow::PatternWindow(int variant, int top, bool topmost)
    : PatternWindow(RECT{0, top, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)},
                    variant, topmost) {}

PatternWindow::PatternWindow(const RECT& area, int variant, bool topmost)
    : variant_(variant), area_(area) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "KestrixTestPattern";
        ::RegisterClassA(&wc);
        registered = true;
    }
    wnd_ = ::CreateWindowExA(topmost ? WS_EX_TOPMOST : 0, "KestrixTestPattern", "pattern",
                             WS_POPUP, area.left, area.top, area.right - area.left,
                             area.bottom - area.top, nullptr, nullptr,
                             ::GetModuleHandleA(nullptr), this);
    ::SetWindowLongPtrA(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetVariant(variant);
    ::ShowWindow(wnd_, SW_SHOWNOACTIVATE);
    WaitShown();
}

PatternWindow::~PatternWindow() {
    ::DestroyWindow(wnd_);
    Pump(50);
}

void PatternWindow::SetVariant(int variant) {
    variant_ = variant;
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    TBitmap bmp(rc.right, rc.bottom, pf32bit);
    ::GdiFlush();
    auto* px = reinterpret_cast<uint32_t*>(bmp.Bits());
    for (int y = 0; y < rc.bottom; ++y)
        for (int x = 0; x < rc.right; ++x) {
            COLORREF c = PatternColor(x + area_.left, y + area_.top, variant_);
            px[(rc.bottom - 1 - y) * rc.right + x] =
                (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        }
    bitmap_.reset(::CopyImage(bmp.Handle(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ::InvalidateRect(wnd_, nullptr, FALSE);
    if (::IsWindowVisible(wnd_)) WaitShown();
}

bool PatternWindow::WaitShown() {
    ::RedrawWindow(wnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const RECT& a = area_;
    const POINT probes[] = {{a.left + 250, a.top + 3}, {a.left + 260, a.top + 70},
                            {(a.left + a.right) / 2, (a.top + a.bottom) / 2},
                            {a.right - 5, a.bottom - 5}, {a.left + (a.right - a.left) / 3, a.bottom - 40}};
    bool ok = PumpUntil([&] {
        for (POINT p : probes)
            if (ScreenPixel(p.x, p.y) != PatternColor(p.x, p.y, variant_)) return false;
        return true;
    }, 5000);
    if (!ok)
        for (POINT p : probes)
            if (ScreenPixel(p.x, p.y) != PatternColor(p.x, p.y, variant_))
                std::printf("pattern not shown at (%ld, %ld): %06lx\n", p.x, p.y,
                            ScreenPixel(p.x, p.y));
    return ok;
}

LRESULT CALLBACK PatternWindow::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto* self = reinterpret_cast<PatternWindow*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_PAINT && self) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        MemDc mem(::CreateCompatibleDC(dc));
        if (self->bitmap_) {
            SelectGuard sel(mem.get(), self->bitmap_.get());
            RECT rc;
            ::GetClientRect(wnd, &rc);
            ::BitBlt(dc, 0, 0, rc.right, rc.bottom, mem.get(), 0, 0, SRCCOPY);
        }
        ::EndPaint(wnd, &ps);
        return 0;
    }
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

}  // namespace testing_support
