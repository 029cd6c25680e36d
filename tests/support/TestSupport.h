// Helpers shared by the in-process tests: pumping messages with a time-out,
// a window that shows a known pattern, and a hook into modal loops.
#pragma once

#include "ui/Handles.h"

#include "ui/Forms.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Processes messages until cond() holds or the time runs out.
bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs = 5000);
void Pump(DWORD ms);

// Messages that reached the application's exception handler.
std::vector<std::string>& RecordedErrors();

// Runs fn once, from the message loop, as soon as cond() holds; works inside
// modal loops and menus, which dispatch timer messages.
// onTimeout runs instead when the time is up.
void WhenReady(std::function<bool()> cond, std::function<void()> fn, DWORD timeoutMs = 10000,
               std::function<void()> onTimeout = nullptr);
bool PendingWhenReady();
// Drops the waiting call, for a test whose window has gone before it came.
void CancelWhenReady();

// The colour the pattern shows at a screen point, distinct for every pixel
// of a 4096 x 4096 area (with 24-bit colour).
COLORREF PatternColor(int x, int y, int variant = 0);

// A borderless window over the screen from (left, top) down that shows the
// pattern; waits until the pattern is on the screen.
class PatternWindow {
public:
    explicit PatternWindow(int variant = 0, int top = 0, bool topmost = true);
    // Over an area of the virtual screen, which may reach across monitors.
    PatternWindow(const RECT& area, int variant, bool topmost);
    ~PatternWindow();
    void SetVariant(int variant);
    HWND Handle() const { return wnd_; }
    // Waits until the pattern is on the screen again, after a window over it
    // has gone.
    bool WaitShown();

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM) noexcept;
    HWND wnd_ = nullptr;
    ui::GdiObject bitmap_;
    int variant_;
    RECT area_;
};

// Resident anonymous memory of this process in KiB, as the host system
// reports it under Wine; -1 where it cannot be read.
long ProcessRssKb();

// A whole file's bytes, or "<missing>"; and a file replaced by bytes.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The program's store of pictures kept while a wizard runs, and a store
// emptied for a test that starts the program.
std::filesystem::path RecoveryStorePath();
void ClearRecoveryStore();

// A stream over global memory holding the bytes, at its start.
ui::ComPtr<IStream> MemoryStream(const void* data, size_t size);

// Pixel of the screen as it is now.
COLORREF ScreenPixel(int x, int y);

}  // namespace testing_support
