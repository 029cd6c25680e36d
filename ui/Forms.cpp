#include "ui/Forms.h"

#include "ui/Dpi.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <psapi.h>

#include <algorithm>
#include <utility>
#include <map>

namespace ui {

TScreen Screen;
TApplication Application;
TInitProc InitProc = nullptr;

namespace {
const char kUtilClass[] = "TKestrixUtilWindow";
// Posted to a form: the focus moved among windows that are not ours.
constexpr UINT WM_FOCUSCHECK = WM_APP + 0x4F2;
// Posted to the application's error window: errors wait to be shown.
constexpr UINT WM_SHOWERRORS = WM_APP + 0x4F3;

std::vector<TTerminateProc>& TerminateProcs() {
    static std::vector<TTerminateProc> procs;
    return procs;
}

std::map<HWND, TWndMethod>& UtilMethods() {
    static std::map<HWND, TWndMethod> methods;
    return methods;
}

LRESULT CALLBACK UtilWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto it = UtilMethods().find(wnd);
    if (it == UtilMethods().end()) return ::DefWindowProcA(wnd, msg, wp, lp);
    TMessage m{msg, wp, lp, 0};
    GuardedCallback([&] {
        // A copy, which can fail as well: the method may deallocate its own
        // window.
        TWndMethod method = it->second;
        method(m);
    });
    return m.Result;
}
}  // namespace

RECT TScreen::DesktopRect() const {
    const int x = ::GetSystemMetrics(SM_XVIRTUALSCREEN), y = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    return RECT{x, y, x + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
                y + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

namespace {
BOOL CALLBACK AddMonitorRect(HMONITOR, HDC, LPRECT rc, LPARAM list) noexcept {
    try {
        reinterpret_cast<std::vector<RECT>*>(list)->push_back(*rc);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}
}  // namespace

std::vector<RECT> TScreen::MonitorRects() const {
    std::vector<RECT> rects;
    ::EnumDisplayMonitors(nullptr, nullptr, AddMonitorRect, reinterpret_cast<LPARAM>(&rects));
    return rects;
}

void TScreen::SetCursor(TCursor cursor) {
    cursor_ = cursor;
    ::SetCursor(CursorHandle(cursor));
}

void TrimWorkingSet() { ::SetProcessWorkingSetSize(::GetCurrentProcess(), -1, -1); }

// ---- utility windows ----

HWND AllocateHWnd(TWndMethod method) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = UtilWndProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = kUtilClass;
        if (!::RegisterClassA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            RaiseLastOSError();
        registered = true;
    }
    HWND wnd = ::CreateWindowExA(WS_EX_TOOLWINDOW, kUtilClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                 nullptr, ::GetModuleHandleA(nullptr), nullptr);
    if (!wnd) RaiseLastOSError();
    UtilMethods()[wnd] = std::move(method);
    return wnd;
}

void DeallocateHWnd(HWND wnd) {
    UtilMethods().erase(wnd);
    ::DestroyWindow(wnd);
}

// ---- TForm ----


TForm::TForm(const FormLayout& layout, const TControlLayout* controls, size_t count)
    : fontHeight96_(layout.Font.Height), client96_{layout.ClientWidth, layout.ClientHeight} {
    const bool centred = layout.Position == poDesktopCenter || layout.Position == poScreenCenter;
    HMONITOR monitor = Screen.FormMonitor;
    if (!monitor) {
        const RECT designed{layout.Left, layout.Top, layout.Left + layout.ClientWidth,
                            layout.Top + layout.ClientHeight};
        monitor = centred ? PrimaryMonitor()
                          : ::MonitorFromRect(&designed, MONITOR_DEFAULTTOPRIMARY);
    }
    ppi_ = MonitorDpi(monitor);
    RegisterOwnClass(layout.ClassName, CS_DBLCLKS, Application.Icon());
    KeyPreview = layout.KeyPreview;
    Font().SetName(layout.Font.Name);
    Font().SetHeight(::MulDiv(layout.Font.Height, ppi_, 96));
    SetColor(layout.Color == CLR_INVALID ? clBtnFace : layout.Color);

    DWORD style = WS_CLIPSIBLINGS;
    DWORD ex = WS_EX_CONTROLPARENT;
    const DWORD sysMenu = (layout.BorderIcons & biSystemMenu) ? WS_SYSMENU : 0u;
    const DWORD buttons = sysMenu | ((layout.BorderIcons & biMinimize) ? WS_MINIMIZEBOX : 0u) |
                          ((layout.BorderIcons & biMaximize) ? WS_MAXIMIZEBOX : 0u);
    switch (layout.BorderStyle) {
        case bsNone: style |= WS_POPUP; break;
        case bsSingle: style |= WS_CAPTION | buttons; break;
        case bsSizeable: style |= WS_CAPTION | WS_THICKFRAME | buttons; break;
        case bsDialog:
            style |= WS_POPUP | WS_CAPTION | DS_MODALFRAME | sysMenu;
            ex |= WS_EX_DLGMODALFRAME;
            break;
    }
    if (layout.FormStyle == fsStayOnTop) ex |= WS_EX_TOPMOST;
    const int clientWidth = ::MulDiv(layout.ClientWidth, ppi_, 96);
    const int clientHeight = ::MulDiv(layout.ClientHeight, ppi_, 96);
    RECT rc{0, 0, clientWidth, clientHeight};
    AdjustWindowRectForDpi(rc, style, ex, ppi_);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const RECT work = MonitorWorkArea(monitor);
    auto centre = [&] {
        return POINT{work.left + ((work.right - work.left) - w) / 2,
                     work.top + ((work.bottom - work.top) - h) / 2};
    };
    POINT at{::MulDiv(layout.Left, ppi_, 96), ::MulDiv(layout.Top, ppi_, 96)};
    if (centred) at = centre();
    HWND wnd = ::CreateWindowExA(ex, layout.ClassName, layout.Caption, style, at.x, at.y, w, h,
                                 nullptr, nullptr, ::GetModuleHandleA(nullptr), this);
    if (!wnd) RaiseLastOSError();
    canvas_.SetWindow(wnd);
    if (FitClientSize(clientWidth, clientHeight) && centred) {
        ::GetWindowRect(wnd, &rc);
        w = rc.right - rc.left;
        h = rc.bottom - rc.top;
        at = centre();
        ::SetWindowPos(wnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    for (size_t i = 0; i < count; ++i) {
        const TControlLayout& c = controls[i];
        TWinControl* parent = this;
        if (c.Parent) {
            parent = dynamic_cast<TWinControl*>(FindControl(c.Parent));
            if (!parent)
                throw Exception(std::string("Control ") + c.Name + " has no container " + c.Parent);
        }
        parent->Add(c);
    }
    RealignAll(*this);
    ApplyTabOrder();
}

void TForm::RealignAll(TWinControl& container) {
    container.Realign();
    for (const auto& c : container.Controls())
        if (auto* w = dynamic_cast<TWinControl*>(c.get())) RealignAll(*w);
}

TForm::~TForm() { DestroyChildren(); }

void TForm::MissingControl(const char* name) {
    throw Exception(std::string("The form has no control ") + name + " of that kind");
}

std::function<void(TForm&)> TForm::CreationHook;

void TForm::DoCreate(const std::function<void()>& handler) {
    UpdateDefaultButton();
    // A failing creation handler is reported; the form is still usable.
    if (handler) Guarded(handler);
    if (CreationHook) CreationHook(*this);
}

TForm* TForm::FromHandle(HWND wnd) {
    if (!wnd) return nullptr;
    HWND root = ::GetAncestor(wnd, GA_ROOT);
    return root ? dynamic_cast<TForm*>(TControl::FromHandle(root)) : nullptr;
}

void TForm::Show() {
    ::ShowWindow(wnd_, SW_SHOW);
    ::SetForegroundWindow(wnd_);
    FocusFirst();
    if (OnShow) OnShow();
}

void TForm::FocusFirst() {
    if (active_ && active_->CanFocus()) {
        ::SetFocus(active_->Handle());
        return;
    }
    HWND first = ::GetNextDlgTabItem(wnd_, nullptr, FALSE);
    if (first && (::GetWindowLongA(first, GWL_STYLE) & WS_TABSTOP) && ::IsWindowEnabled(first))
        ::SetFocus(first);
    else
        ::SetFocus(wnd_);
}

void TForm::Hide() { ::ShowWindow(wnd_, SW_HIDE); }

bool TForm::Visible() const { return ::IsWindowVisible(wnd_) != FALSE; }

void TForm::SetBounds(int left, int top, int width, int height) {
    ::SetWindowPos(wnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetClientSize(int width, int height) {
    client96_ = {::MulDiv(width, 96, ppi_), ::MulDiv(height, 96, ppi_)};
    RECT rc{0, 0, width, height};
    ::AdjustWindowRectEx(&rc, static_cast<DWORD>(::GetWindowLongA(wnd_, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongA(wnd_, GWL_EXSTYLE)));
    ::SetWindowPos(wnd_, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void TForm::SetCaption(const std::string& caption) { ::SetWindowTextA(wnd_, caption.c_str()); }

namespace {
struct DisabledWindows {
    HWND except;
    std::vector<HWND> list;
    bool failed = false;
};
BOOL CALLBACK DisableOne(HWND wnd, LPARAM lp) noexcept {
    auto* d = reinterpret_cast<DisabledWindows*>(lp);
    if (wnd != d->except && ::IsWindowVisible(wnd) && ::IsWindowEnabled(wnd)) {
        try {
            d->list.push_back(wnd);
        } catch (...) {
            d->failed = true;
            return FALSE;
        }
        ::EnableWindow(wnd, FALSE);
    }
    return TRUE;
}
}  // namespace

int TForm::ShowModal() {
    if (Visible() || modal_) throw Exception("Cannot make a visible window modal");
    if (::GetCapture()) ::ReleaseCapture();
    HWND previous = ::GetActiveWindow();
    // Owned by the window it was opened from, so it stays above it.
    HWND owner = previous && previous != wnd_ && ::IsWindowVisible(previous) ? previous : nullptr;
    DisabledWindows disabled{wnd_, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    ScopeExit restore([&] {
        modal_ = false;
        for (HWND w : disabled.list)
            if (::IsWindow(w)) ::EnableWindow(w, TRUE);
        Hide();
        if (owner) ::SetWindowLongPtrA(wnd_, GWLP_HWNDPARENT, 0);
        if (previous && ::IsWindow(previous)) ::SetActiveWindow(previous);
    });
    if (disabled.failed) throw Exception("Out of memory");
    if (owner) ::SetWindowLongPtrA(wnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    modal_ = true;
    ModalResult = mrNone;
    Show();
    for (;;) {
        if (!Application.HandleMessage()) {
            // WM_QUIT: leave the modal loop and let the outer loop see it.
            ModalResult = mrCancel;
            break;
        }
        if (ModalResult != mrNone) {
            if (DoClose()) break;
            ModalResult = mrNone;
        }
    }
    return ModalResult;
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(canClose);
    return canClose;
}

bool TForm::DoClose() {
    // A failing handler is reported; the form still closes, so that an
    // error can never hold the user in it.
    bool canClose = true;
    Guarded([&] { canClose = CloseQuery(); });
    if (!canClose) return false;
    TCloseAction action = caHide;
    Guarded([&] {
        if (OnClose) OnClose(action);
    });
    return action != caNone;
}

void TForm::Close() {
    if (modal_) {
        ModalResult = mrCancel;
    } else if (Application.MainForm() == this) {
        Application.Terminate();
    } else if (DoClose()) {
        Hide();
    }
}

int TForm::AddMessageFilter(TMessageFilter filter) {
    filters_.push_back({nextFilter_, std::move(filter)});
    return nextFilter_++;
}

void TForm::RemoveMessageFilter(int id) {
    filters_.erase(std::remove_if(filters_.begin(), filters_.end(),
                                  [id](const Filter& f) { return f.id == id; }),
                   filters_.end());
}

bool TForm::PreTranslate(MSG& msg) {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        // A copy: the filter may remove itself.
        TMessageFilter fn = it->fn;
        if (fn(msg)) return true;
    }
    const bool preview = KeyPreview || msg.hwnd == wnd_;
    if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && preview && OnKeyDown) {
        WORD key = static_cast<WORD>(msg.wParam);
        OnKeyDown(key, KeyboardShiftState());
        if (key == 0) return true;
        msg.wParam = key;
    } else if (msg.message == WM_CHAR && preview && OnKeyPress) {
        char key = static_cast<char>(msg.wParam);
        OnKeyPress(key);
        if (key == 0) return true;
        msg.wParam = static_cast<unsigned char>(key);
    }
    // The dialog manager handles Tab, arrows, mnemonics, Enter and Esc and
    // dispatches everything else itself.
    return DialogKeys && ::IsDialogMessageA(wnd_, &msg);
}

void TForm::FocusChanged(HWND focus) {
    TControl* target = nullptr;
    for (HWND w = focus; w && w != wnd_; w = ::GetParent(w)) {
        if (TControl* c = TControl::FromHandle(w)) {
            if (c->Form() != this) return;
            target = c;
            break;
        }
    }
    if (!focus || (focus != wnd_ && !::IsChild(wnd_, focus))) return;
    if (target == active_) return;
    std::vector<TControl*> oldChain, newChain;
    for (TControl* c = active_; c && c != this; c = c->Parent()) oldChain.push_back(c);
    for (TControl* c = target; c && c != this; c = c->Parent()) newChain.push_back(c);
    active_ = target;
    UpdateDefaultButton();
    auto in = [](const std::vector<TControl*>& v, TControl* c) {
        return std::find(v.begin(), v.end(), c) != v.end();
    };
    for (TControl* c : oldChain)
        if (!in(newChain, c)) c->DoExit();
    for (auto it = newChain.rbegin(); it != newChain.rend(); ++it)
        if (!in(oldChain, *it)) (*it)->DoEnter();
}

void TForm::FocusMovedElsewhere() noexcept {
    if (focusCheckPosted_ || !wnd_) return;
    focusCheckPosted_ = ::PostMessageA(wnd_, WM_FOCUSCHECK, 0, 0) != FALSE;
}

void TForm::UpdateDefaultButton() {
    // A focused push button takes the default look and Enter, as in dialogs.
    TButton* want = dynamic_cast<TButton*>(active_);
    if (want && dynamic_cast<TCheckBox*>(want)) want = nullptr;
    if (!want) want = DefaultButton;
    if (want == shownDefault_) return;
    if (shownDefault_ && shownDefault_->Handle())
        ::SendMessageA(shownDefault_->Handle(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    shownDefault_ = want;
    if (want && want->Handle())
        ::SendMessageA(want->Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

bool TForm::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case DM_GETDEFID: {
            TButton* def = shownDefault_ ? shownDefault_ : DefaultButton;
            msg.Result = def && def->Enabled()
                             ? MAKELRESULT(::GetDlgCtrlID(def->Handle()), DC_HASDEFID)
                             : 0;
            return true;
        }
        case WM_COMMAND:
            // Enter and Esc from the dialog manager when it found no button.
            if (HIWORD(msg.WParam) == 0 && !TControl::FromHandle(reinterpret_cast<HWND>(msg.LParam))) {
                TButton* b = LOWORD(msg.WParam) == IDOK       ? DefaultButton
                             : LOWORD(msg.WParam) == IDCANCEL ? CancelButton
                                                             : nullptr;
                if (b) {
                    if (b->Enabled()) b->Click();
                    return true;
                }
            }
            return TWinControl::WndProc(msg);
        case WM_NEXTDLGCTL: {
            HWND next = LOWORD(msg.LParam)
                            ? reinterpret_cast<HWND>(msg.WParam)
                            : ::GetNextDlgTabItem(wnd_, ::GetFocus(), msg.WParam != 0);
            if (next) ::SetFocus(next);
            return true;
        }
        case WM_ACTIVATE:
            if (LOWORD(msg.WParam) == WA_INACTIVE) {
                if (OnDeactivate) OnDeactivate();
                return false;
            }
            if (OnActivate) OnActivate();
            // Back to the control that had the focus, as dialog boxes do.
            if (!::IsIconic(wnd_)) {
                FocusFirst();
                return true;
            }
            return false;
        case WM_CLOSE:
            Close();
            return true;
        case WM_NCCREATE:
            EnableNonClientScaling(wnd_);
            return TWinControl::WndProc(msg);
        case WM_GETDPISCALEDSIZE:
            if (!FollowDpiChanges) return false;
            // Asked before the change, with the new DPI.
            *reinterpret_cast<SIZE*>(msg.LParam) = WindowSizeAt(static_cast<int>(msg.WParam));
            msg.Result = TRUE;
            return true;
        case WM_DPICHANGED:
            if (!FollowDpiChanges || !HIWORD(msg.WParam)) return false;
            ChangeDpi(HIWORD(msg.WParam), *reinterpret_cast<const RECT*>(msg.LParam));
            return true;
        case WM_SIZE:
            // Sized by the user or by code: the size to keep at another DPI.
            if (!rescaling_ && msg.WParam == SIZE_RESTORED)
                client96_ = {::MulDiv(LOWORD(msg.LParam), 96, ppi_),
                             ::MulDiv(HIWORD(msg.LParam), 96, ppi_)};
            return TWinControl::WndProc(msg);
        case WM_FOCUSCHECK:
            focusCheckPosted_ = false;
            FocusChanged(::GetFocus());
            return true;
        case WM_SETCURSOR:
            if (Screen.Cursor() != crDefault) {
                ::SetCursor(CursorHandle(Screen.Cursor()));
                msg.Result = TRUE;
                return true;
            }
            return false;
        default:
            return TWinControl::WndProc(msg);
    }
}

// ---- TApplication ----

void AddTerminateProc(TTerminateProc proc) { TerminateProcs().push_back(proc); }

TApplication::TApplication() = default;
TApplication::~TApplication() = default;

void TApplication::Initialize() {
    if (InitProc) InitProc();
}

HICON TApplication::Icon() {
    if (!icon_) {
        icon_.reset(static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), "MAINICON",
                                                    IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
        if (!icon_)
            icon_.reset(::CopyIcon(::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION))));
    }
    return icon_.get();
}

std::wstring TApplication::ExeName() const { return ModuleFileName(nullptr); }

void TApplication::Terminate() {
    for (TTerminateProc proc : TerminateProcs())
        if (!proc()) return;
    terminated_ = true;
    ::PostQuitMessage(0);
    WatchQuit(::GetCurrentThreadId());
}

namespace {
void CALLBACK QuitWatch(HWND, UINT, UINT_PTR, DWORD) noexcept { Application.RepostSwallowedQuit(); }
}  // namespace

void TApplication::PostQuit(DWORD threadId) noexcept {
    ::PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    WatchQuit(threadId);
}

void TApplication::WatchQuit(DWORD threadId) noexcept {
    quitThread_ = threadId;
    ::InterlockedExchange(&quitPending_, 1);
    // A loop of foreign code (a plug-in's dialog) may take the quit and
    // never pass it on: until the outermost loop has it, a timer of the
    // thread posts it again whenever it is gone from the queue, so that no
    // process is left that neither the user nor a client can end.
    if (threadId == ::GetCurrentThreadId() && !quitWatch_)
        quitWatch_ = ::SetTimer(nullptr, 0, 250, &QuitWatch);
}

void TApplication::QuitReceived() noexcept {
    ::InterlockedExchange(&quitPending_, 0);
    if (quitWatch_) ::KillTimer(nullptr, std::exchange(quitWatch_, 0));
}

void TApplication::RepostSwallowedQuit() noexcept {
    if (!quitPending_ || quitThread_ != ::GetCurrentThreadId()) return;
    MSG msg;
    if (!::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) ::PostQuitMessage(0);
}

bool TApplication::ProcessMessage(MSG& msg) {
    ScopeExit freeDcs([] { TWindowCanvas::FreeDeviceContexts(); });
    TForm* form = TForm::FromHandle(msg.hwnd);
    if (!form || !form->PreTranslate(msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return true;
}

bool TApplication::HandleMessage() {
    MSG msg;
    BOOL r = ::GetMessageA(&msg, nullptr, 0, 0);
    if (r == 0) {
        terminated_ = true;
        // Leave it for the outermost loop.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (r == -1) return true;
    Guarded([&] { ProcessMessage(msg); });
    return true;
}

bool TApplication::ProcessMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        Guarded([&] { ProcessMessage(msg); });
    }
    return true;
}

void TApplication::Run() {
    if (ShowMainForm && mainForm_) mainForm_->Show();
    MSG msg;
    for (;;) {
        BOOL r = ::GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) break;
        Guarded([&] { ProcessMessage(msg); });
    }
    QuitReceived();
    terminated_ = true;
    DestroyForms();
    // Errors that came after the last message are shown all the same.
    Guarded([this] { ShowPostedErrors(); });
}

void TApplication::DestroyForms() {
    while (!forms_.empty()) {
        std::unique_ptr<TForm> f = std::move(forms_.back());
        forms_.pop_back();
        if (f.get() == mainForm_) mainForm_ = nullptr;
        f.reset();
    }
}

int TApplication::MessageBox(const std::string& text, UINT flags) {
    return ::MessageBoxW(::GetActiveWindow(), WideFromUtf8(text).c_str(),
                         WideString(title_).c_str(), flags);
}

void TApplication::HandleException(const std::exception& e) {
    postedErrors_.push_back(e.what());
    ShowPostedErrors();
}

void TApplication::PostException() noexcept {
    std::string text;
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
            text = "Unknown error";
        }
    } catch (...) {
        // No memory even for the text: shown as it can be, now.
        HandleException();
        return;
    }
    if (PostError(text)) return;
    try {
        HandleException(Exception(text));
    } catch (...) {
    }
}

bool TApplication::PostError(const std::string& text) noexcept {
    try {
        if (!errorWnd_) {
            errorWnd_ = AllocateHWnd([this](TMessage& m) {
                if (m.Msg == WM_SHOWERRORS)
                    ShowPostedErrors();
                else
                    m.Result = ::DefWindowProcA(errorWnd_, m.Msg, m.WParam, m.LParam);
            });
        }
        postedErrors_.push_back(text);
    } catch (...) {
        return false;
    }
    if (::PostMessageA(errorWnd_, WM_SHOWERRORS, 0, 0)) return true;
    postedErrors_.pop_back();
    return false;
}

void TApplication::ShowPostedErrors() {
    // One box at a time: errors that come while one is up wait for it.
    if (showingErrors_) return;
    showingErrors_ = true;
    ScopeExit done([this] { showingErrors_ = false; });
    while (!postedErrors_.empty()) {
        std::string text = std::move(postedErrors_.front());
        postedErrors_.pop_front();
        ShowError(text);
    }
}

void TApplication::ShowError(const std::string& text) {
    if (OnException) {
        OnException(text);
        return;
    }
    // Messages are UTF-8: a path in them shows whatever its characters.
    ::MessageBoxW(::GetActiveWindow(), WideFromUtf8(text).c_str(), WideString(title_).c_str(),
                  MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException() {
    try {
        throw;
    } catch (const std::exception& e) {
        try {
            HandleException(e);
        } catch (...) {
        }
    } catch (...) {
        try {
            HandleException(Exception("Unknown error"));
        } catch (...) {
        }
    }
}

}  // namespace ui
