#include "ui/Forms.h"

#include "ui/Exception.h"
#include "ui/Strings.h"

#include <psapi.h>

#include <algorithm>
#include <map>

namespace ui {

TScreen Screen;
TApplication Application;
TInitProc InitProc = nullptr;

namespace {
const char kFormProp[] = "KestrixForm";
const char kUtilClass[] = "TKestrixUtilWindow";

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
    Guarded([&] {
        // A copy, which can fail as well: the method may deallocate its own
        // window.
        TWndMethod method = it->second;
        method(m);
    });
    return m.Result;
}
}  // namespace

HCURSOR CursorHandle(TCursor cursor) {
    LPCSTR id = reinterpret_cast<LPCSTR>(IDC_ARROW);
    switch (cursor) {
        case crCross: id = reinterpret_cast<LPCSTR>(IDC_CROSS); break;
        case crHandPoint: id = reinterpret_cast<LPCSTR>(IDC_HAND); break;
        default: break;
    }
    return ::LoadCursorA(nullptr, id);
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

void TForm::RegisterClassFor(const char* name) {
    WNDCLASSA wc = {};
    if (::GetClassInfoA(::GetModuleHandleA(nullptr), name, &wc)) return;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = StaticWndProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hIcon = Application.Icon();
    wc.lpszClassName = name;
    if (!::RegisterClassA(&wc)) RaiseLastOSError();
}

TForm::TForm(const FormLayout& layout) {
    RegisterClassFor(layout.ClassName);
    DWORD style = WS_CLIPSIBLINGS;
    DWORD ex = 0;
    switch (layout.BorderStyle) {
        case bsNone: style |= WS_POPUP; break;
        case bsSingle: style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
        case bsSizeable: style |= WS_OVERLAPPEDWINDOW; break;
        case bsDialog:
            style |= WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
            ex |= WS_EX_DLGMODALFRAME;
            break;
    }
    ex |= WS_EX_CONTROLPARENT;
    if (layout.FormStyle == fsStayOnTop) ex |= WS_EX_TOPMOST;
    RECT rc{0, 0, layout.ClientWidth, layout.ClientHeight};
    ::AdjustWindowRectEx(&rc, style, FALSE, ex);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = layout.Left, y = layout.Top;
    if (layout.Position == poDesktopCenter || layout.Position == poScreenCenter) {
        RECT work{};
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        x = work.left + ((work.right - work.left) - w) / 2;
        y = work.top + ((work.bottom - work.top) - h) / 2;
    }
    LOGFONTA lf = {};
    lf.lfHeight = layout.Font.Height;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, layout.Font.Name, LF_FACESIZE);
    font_.reset(::CreateFontIndirectA(&lf));
    if (layout.Color != CLR_INVALID) brush_.reset(::CreateSolidBrush(layout.Color));
    wnd_.reset(::CreateWindowExA(ex, layout.ClassName, layout.Caption, style, x, y, w, h, nullptr,
                                 nullptr, ::GetModuleHandleA(nullptr), this));
    if (!wnd_) RaiseLastOSError();
    canvas_.SetWindow(wnd_.get());
}

TForm::~TForm() {
    if (HWND wnd = wnd_.get()) ::RemovePropA(wnd, kFormProp);
}

std::function<void(TForm&)> TForm::CreationHook;

void TForm::DoCreate(const std::function<void()>& handler) {
    Realign();
    if (handler) handler();
    if (CreationHook) CreationHook(*this);
}

void TForm::DoDestroy(const std::function<void()>& handler) {
    if (destroyed_) return;
    destroyed_ = true;
    if (handler) Guarded(handler);
}

void TForm::AddControl(TControl* control) { controls_.push_back(control); }

TForm* TForm::FromHandle(HWND wnd) {
    if (!wnd) return nullptr;
    HWND root = ::GetAncestor(wnd, GA_ROOT);
    return root ? static_cast<TForm*>(::GetPropA(root, kFormProp)) : nullptr;
}

void TForm::Realign() {
    RECT client;
    ::GetClientRect(wnd_.get(), &client);
    for (TControl* c : controls_) {
        int w = c->Width(), h = c->Height();
        switch (c->Align) {
            case alTop:
                c->SetBounds(client.left, client.top, client.right - client.left, h);
                client.top += h;
                break;
            case alBottom:
                c->SetBounds(client.left, client.bottom - h, client.right - client.left, h);
                client.bottom -= h;
                break;
            case alLeft:
                c->SetBounds(client.left, client.top, w, client.bottom - client.top);
                client.left += w;
                break;
            case alRight:
                c->SetBounds(client.right - w, client.top, w, client.bottom - client.top);
                client.right -= w;
                break;
            default:
                break;
        }
    }
    for (TControl* c : controls_)
        if (c->Align == alClient)
            c->SetBounds(client.left, client.top, client.right - client.left,
                         client.bottom - client.top);
}

void TForm::Show() {
    ::ShowWindow(wnd_.get(), SW_SHOW);
    ::SetForegroundWindow(wnd_.get());
    ::SetFocus(wnd_.get());
    if (OnShow) OnShow();
}

void TForm::Hide() { ::ShowWindow(wnd_.get(), SW_HIDE); }

bool TForm::Visible() const { return ::IsWindowVisible(wnd_.get()) != FALSE; }

void TForm::SetBounds(int left, int top, int width, int height) {
    ::SetWindowPos(wnd_.get(), nullptr, left, top, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetCaption(const std::string& caption) { ::SetWindowTextA(wnd_.get(), caption.c_str()); }

namespace {
struct DisabledWindows {
    HWND except;
    std::vector<HWND> list;
};
BOOL CALLBACK DisableOne(HWND wnd, LPARAM lp) noexcept {
    auto* d = reinterpret_cast<DisabledWindows*>(lp);
    if (wnd != d->except && ::IsWindowVisible(wnd) && ::IsWindowEnabled(wnd)) {
        // Disabled only once it is on the list that enables it again.
        try {
            d->list.push_back(wnd);
        } catch (...) {
            return TRUE;
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
    DisabledWindows disabled{wnd_.get(), {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    struct Restore {
        TForm& form;
        DisabledWindows& d;
        HWND previous;
        ~Restore() {
            form.modal_ = false;
            for (HWND w : d.list)
                if (::IsWindow(w)) ::EnableWindow(w, TRUE);
            form.Hide();
            if (previous && ::IsWindow(previous)) ::SetActiveWindow(previous);
        }
    } restore{*this, disabled, previous};
    modal_ = true;
    ModalResult = mrNone;
    Show();
    while (ModalResult == mrNone) {
        if (!Application.HandleMessage()) {
            // WM_QUIT: leave the modal loop and let the outer loop see it.
            ModalResult = mrCancel;
            break;
        }
    }
    return ModalResult;
}

void TForm::Close() {
    if (modal_)
        ModalResult = mrCancel;
    else if (Application.MainForm() == this)
        Application.Terminate();
    else
        Hide();
}

bool TForm::PreTranslate(MSG& msg) {
    if (msg.message == WM_KEYDOWN) {
        WORD key = static_cast<WORD>(msg.wParam);
        if (KeyPreview || msg.hwnd == wnd_.get()) {
            if (OnKeyDown) OnKeyDown(key);
            if (key == 0) return true;
        }
        if (key == VK_RETURN && DefaultButton && ::IsWindowEnabled(DefaultButton->Handle())) {
            DefaultButton->Click();
            return true;
        }
        if (key == VK_ESCAPE && CancelButton) {
            CancelButton->Click();
            return true;
        }
    } else if (msg.message == WM_CHAR) {
        if (KeyPreview || msg.hwnd == wnd_.get()) {
            char key = static_cast<char>(msg.wParam);
            if (OnKeyPress) OnKeyPress(key);
            if (key == 0) return true;
            msg.wParam = static_cast<unsigned char>(key);
        }
    }
    // Tab navigation between the controls; Enter and Esc were handled above.
    if ((msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_TAB &&
        ::IsDialogMessageA(wnd_.get(), &msg))
        return true;
    return false;
}

bool TForm::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_COMMAND:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            // Notifications go to the control that sent them.
            HWND child = reinterpret_cast<HWND>(msg.LParam);
            if (auto* c = static_cast<TControl*>(::GetPropA(child, "KestrixControl")))
                return c->HandleMessage(msg.Msg, msg.WParam, msg.LParam, msg.Result);
            return false;
        }
        case WM_CLOSE:
            Close();
            return true;
        case WM_SIZE:
            Realign();
            return false;
        case WM_SETCURSOR:
            if (Screen.Cursor() != crDefault) {
                ::SetCursor(CursorHandle(Screen.Cursor()));
                msg.Result = TRUE;
                return true;
            }
            return false;
        case WM_ERASEBKGND:
            if (brush_) {
                RECT rc;
                ::GetClientRect(wnd_.get(), &rc);
                ::FillRect(reinterpret_cast<HDC>(msg.WParam), &rc,
                           static_cast<HBRUSH>(brush_.get()));
            } else {
                RECT rc;
                ::GetClientRect(wnd_.get(), &rc);
                ::FillRect(reinterpret_cast<HDC>(msg.WParam), &rc,
                           ::GetSysColorBrush(COLOR_BTNFACE));
            }
            msg.Result = 1;
            return true;
        default:
            return false;
    }
}

LRESULT CALLBACK TForm::StaticWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        ::SetPropA(wnd, kFormProp, cs->lpCreateParams);
    }
    auto* self = static_cast<TForm*>(::GetPropA(wnd, kFormProp));
    if (!self || (self->destroyed_ && msg != WM_NCDESTROY)) {
        if (msg == WM_NCDESTROY) ::RemovePropA(wnd, kFormProp);
        return ::DefWindowProcA(wnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        ::RemovePropA(wnd, kFormProp);
        return ::DefWindowProcA(wnd, msg, wp, lp);
    }
    TMessage m{msg, wp, lp, 0};
    bool handled = false;
    Guarded([&] { handled = self->WndProc(m); });
    return handled ? m.Result : ::DefWindowProcA(wnd, msg, wp, lp);
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
}

bool TApplication::ProcessMessage(MSG& msg) {
    struct FreeDcs {
        ~FreeDcs() { TWindowCanvas::FreeDeviceContexts(); }
    } freeDcs;
    if (TForm* form = TForm::FromHandle(msg.hwnd)) {
        if (form->PreTranslate(msg)) return true;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
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

void TApplication::ProcessMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        Guarded([&] { ProcessMessage(msg); });
    }
}

void TApplication::Run() {
    if (ShowMainForm && mainForm_) mainForm_->Show();
    MSG msg;
    for (;;) {
        BOOL r = ::GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) break;
        Guarded([&] { ProcessMessage(msg); });
    }
    terminated_ = true;
    DestroyForms();
}

void TApplication::DestroyForms() {
    while (!forms_.empty()) {
        std::unique_ptr<TForm> f = std::move(forms_.back());
        forms_.pop_back();
        if (f.get() == mainForm_) mainForm_ = nullptr;
        f.reset();
    }
}

void TApplication::HandleException(const std::exception& e) {
    std::string text = e.what();
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
