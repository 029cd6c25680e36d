#include "ui/Controls.h"

#include "ui/Exception.h"
#include "ui/Forms.h"

#include <windowsx.h>

namespace ui {

namespace {
const char kControlProp[] = "KestrixControl";

TControl* ControlOf(HWND wnd) { return static_cast<TControl*>(::GetPropA(wnd, kControlProp)); }

const char* RegisterCustomClass(const char* name) {
    WNDCLASSA wc = {};
    if (!::GetClassInfoA(::GetModuleHandleA(nullptr), name, &wc)) {
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = name;
        if (!::RegisterClassA(&wc)) RaiseLastOSError();
    }
    return name;
}
}  // namespace

TShiftState ShiftFromKeys(WPARAM keys) {
    TShiftState s = 0;
    if (keys & MK_SHIFT) s |= ssShift;
    if (keys & MK_CONTROL) s |= ssCtrl;
    if (keys & MK_LBUTTON) s |= ssLeft;
    if (keys & MK_RBUTTON) s |= ssRight;
    if (keys & MK_MBUTTON) s |= ssMiddle;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

TControl::TControl(TForm& parent, const char* cls, const char* text, DWORD style, DWORD exStyle,
                   int left, int top, int width, int height)
    : parent_(parent) {
    wnd_ = ::CreateWindowExA(exStyle, cls, text, style | WS_CHILD | WS_VISIBLE, left, top, width,
                             height, parent.Handle(), nullptr, ::GetModuleHandleA(nullptr),
                             nullptr);
    if (!wnd_) RaiseLastOSError();
    ::SetPropA(wnd_, kControlProp, this);
    ::SendMessageA(wnd_, WM_SETFONT, reinterpret_cast<WPARAM>(parent.Font()), FALSE);
}

TControl::~TControl() {
    // Destroyed here, while the object can still take the window's last messages.
    if (wnd_) ::DestroyWindow(wnd_);
}

void TControl::Subclass() {
    oldProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(wnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
}

LRESULT CALLBACK TControl::SubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    TControl* self = ControlOf(wnd);
    if (!self) return ::DefWindowProcA(wnd, msg, wp, lp);
    WNDPROC old = self->oldProc_;
    if (msg == WM_NCDESTROY) {
        ::RemovePropA(wnd, kControlProp);
        self->wnd_ = nullptr;
        return ::CallWindowProcA(old, wnd, msg, wp, lp);
    }
    LRESULT result = 0;
    bool handled = false;
    Guarded([&] { handled = self->HandleMessage(msg, wp, lp, result); });
    return handled ? result : ::CallWindowProcA(old, wnd, msg, wp, lp);
}

bool TControl::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    TMouseButton button = mbLeft;
    switch (msg) {
        case WM_SETCURSOR:
            if (Screen.Cursor() != crDefault) {
                ::SetCursor(CursorHandle(Screen.Cursor()));
                result = TRUE;
                return true;
            }
            if (cursor_ != crDefault && LOWORD(lp) == HTCLIENT) {
                ::SetCursor(CursorHandle(static_cast<TCursor>(cursor_)));
                result = TRUE;
                return true;
            }
            return false;
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: button = mbRight; goto down;
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: button = mbMiddle; goto down;
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK:
        down:
            ::SetCapture(wnd_);
            if (OnMouseDown) OnMouseDown(this, button, ShiftFromKeys(wp), x, y);
            return false;
        case WM_MOUSEMOVE:
            if (OnMouseMove) OnMouseMove(this, ShiftFromKeys(wp), x, y);
            return false;
        case WM_RBUTTONUP: button = mbRight; goto up;
        case WM_MBUTTONUP: button = mbMiddle; goto up;
        case WM_LBUTTONUP:
        up:
            if (!(wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) && ::GetCapture() == wnd_)
                ::ReleaseCapture();
            if (OnMouseUp) OnMouseUp(this, button, ShiftFromKeys(wp), x, y);
            if (button == mbLeft && OnClick) {
                RECT rc;
                ::GetClientRect(wnd_, &rc);
                POINT pt{x, y};
                if (::PtInRect(&rc, pt)) OnClick(this);
            }
            return false;
        default:
            return false;
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    ::MoveWindow(wnd_, left, top, width, height, TRUE);
}

RECT TControl::BoundsRect() const {
    RECT rc{};
    ::GetWindowRect(wnd_, &rc);
    ::MapWindowPoints(nullptr, ::GetParent(wnd_), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

int TControl::Width() const { RECT r = BoundsRect(); return r.right - r.left; }
int TControl::Height() const { RECT r = BoundsRect(); return r.bottom - r.top; }

void TControl::SetVisible(bool visible) { ::ShowWindow(wnd_, visible ? SW_SHOW : SW_HIDE); }

void TControl::SetCaption(const std::string& text) { ::SetWindowTextA(wnd_, text.c_str()); }

std::string TControl::Caption() const {
    int n = ::GetWindowTextLengthA(wnd_);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    n = ::GetWindowTextA(wnd_, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

// ---- TImage ----

TCustomControl::TCustomControl(TForm& parent, const char* className, int left, int top,
                               int width, int height)
    : TControl(parent, RegisterCustomClass(className), "", 0, 0, left, top, width, height) {
    Subclass();
}

bool TCustomControl::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
        case WM_ERASEBKGND:
            // Paint covers everything.
            result = 1;
            return true;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(wnd_, &ps);
            struct End {
                HWND w;
                PAINTSTRUCT& ps;
                ~End() { ::EndPaint(w, &ps); }
            } end{wnd_, ps};
            Paint(dc);
            result = 0;
            return true;
        }
        default:
            return TControl::HandleMessage(msg, wp, lp, result);
    }
}

TImage::TImage(TForm& parent, int left, int top, int width, int height)
    : TCustomControl(parent, "TImage", left, top, width, height) {}

void TImage::Invalidate() {
    if (AutoSize && !Picture.Bitmap().Empty()) {
        RECT r = BoundsRect();
        ::MoveWindow(wnd_, r.left, r.top, Picture.Bitmap().Width(), Picture.Bitmap().Height(),
                     TRUE);
    }
    ::InvalidateRect(wnd_, nullptr, FALSE);
}

void TImage::Paint(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    TBitmap& bmp = Picture.Bitmap();
    if (bmp.Empty()) {
        ::FillRect(dc, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
        return;
    }
    TCanvas::Lease src(bmp.Canvas(), true);
    if (Stretch) {
        if (rc.right == bmp.Width() && rc.bottom == bmp.Height())
            ::BitBlt(dc, 0, 0, rc.right, rc.bottom, src.get(), 0, 0, SRCCOPY);
        else
            ::StretchBlt(dc, 0, 0, rc.right, rc.bottom, src.get(), 0, 0, bmp.Width(),
                         bmp.Height(), SRCCOPY);
    } else {
        ::BitBlt(dc, 0, 0, bmp.Width(), bmp.Height(), src.get(), 0, 0, SRCCOPY);
        // Only the area outside the picture needs the background.
        HRGN outside = ::CreateRectRgnIndirect(&rc);
        HRGN pic = ::CreateRectRgn(0, 0, bmp.Width(), bmp.Height());
        GdiObject a(outside), b(pic);
        ::CombineRgn(outside, outside, pic, RGN_DIFF);
        ::FillRgn(dc, outside, ::GetSysColorBrush(COLOR_BTNFACE));
    }
}

// ---- TButton ----

TButton::TButton(TForm& parent, const char* caption, int left, int top, int width, int height,
                 bool isDefault)
    : TControl(parent, "BUTTON", caption,
               WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0, left, top, width,
               height) {}

void TButton::Click() {
    if (OnClick) OnClick(this);
    if (ModalResult != 0) parent_.ModalResult = ModalResult;
}

bool TButton::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
        Click();
        result = 0;
        return true;
    }
    return TControl::HandleMessage(msg, wp, lp, result);
}

// ---- TLabel ----

TLabel::TLabel(TForm& parent, const char* caption, int left, int top)
    : TControl(parent, "STATIC", caption, SS_LEFT | SS_NOTIFY, 0, left, top, 10, 13) {
    Subclass();
    AutoSize();
}

void TLabel::AutoSize() {
    WindowDc dc(wnd_);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(wnd_, WM_GETFONT, 0, 0));
    SelectGuard sel(dc.get(), font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(DEFAULT_GUI_FONT));
    std::string text = Caption();
    SIZE sz{0, 0};
    ::GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &sz);
    RECT r = BoundsRect();
    ::MoveWindow(wnd_, r.left, r.top, sz.cx, sz.cy, TRUE);
}

void TLabel::SetUnderline() {
    LOGFONTA lf{};
    HFONT f = reinterpret_cast<HFONT>(::SendMessageA(wnd_, WM_GETFONT, 0, 0));
    ::GetObjectA(f ? static_cast<HGDIOBJ>(f) : ::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    lf.lfUnderline = TRUE;
    underlineFont_.reset(::CreateFontIndirectA(&lf));
    ::SendMessageA(wnd_, WM_SETFONT, reinterpret_cast<WPARAM>(underlineFont_.get()), TRUE);
}

bool TLabel::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wp);
        if (FontColor != CLR_INVALID) ::SetTextColor(dc, FontColor);
        ::SetBkMode(dc, TRANSPARENT);
        result = reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        return true;
    }
    return TControl::HandleMessage(msg, wp, lp, result);
}

}  // namespace ui
