#include "controls/Spin.h"

#include "ui/Exception.h"

#include <algorithm>
#include <cstdint>
#include <string>

using namespace ui;

BOOL(WINAPI* SpinMessageBeep)(UINT type) = &::MessageBeep;

namespace {
constexpr UINT kFirstRepeatPause = 400;
constexpr UINT kRepeatPause = 100;

// Whether the window and every control it sits in take input; a form
// disabled under a modal window does not grey its controls.
bool EnabledInForm(HWND wnd) {
    for (HWND w = wnd; w; w = ::GetParent(w)) {
        if (!::IsWindowEnabled(w)) return false;
        if (!(::GetWindowLongA(w, GWL_STYLE) & WS_CHILD)) break;
    }
    return true;
}

// The text as a whole number, read as the platform's StrToInt reads it:
// leading blanks, an optional sign, then decimal digits within 32 bits or
// hexadecimal ones after "$" or "0x" (up to 8, as the bits of the number);
// nothing may follow.
bool ParseInt(const std::string& text, int& value) {
    size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos) return false;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return false;
    unsigned long long v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        v = v * base + digit;
        if (v > (base == 16 ? 0xFFFFFFFFull : 2147483648ull)) return false;
    }
    if (base == 10 && !negative && v > 2147483647ull) return false;
    const uint32_t bits = static_cast<uint32_t>(v);
    value = static_cast<int>(negative ? 0u - bits : bits);
    return true;
}

char DecimalSeparator() {
    char buf[8] = {};
    return ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) > 1 ? buf[0]
                                                                                    : '.';
}
}  // namespace

// ---- TTimerSpeedButton ----

TTimerSpeedButton::TTimerSpeedButton(TWinControl& parent, const TControlLayout& layout)
    : TCustomControl(parent, layout, "TTimerSpeedButton") {
    // Capture and click follow the press drawn here, not any release over it.
    CaptureMouse = false;
}

TTimerSpeedButton::~TTimerSpeedButton() { repeatTimer_.reset(); }

bool TTimerSpeedButton::EnabledOnScreen() const { return EnabledInForm(wnd_); }

void TTimerSpeedButton::SetDown(bool value) {
    if (down_ == value) return;
    down_ = value;
    Invalidate();
}

bool TTimerSpeedButton::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_CAPTURECHANGED:
            // Taken away while held (a menu, another window): no click follows.
            if (tracking_) {
                tracking_ = false;
                SetDown(false);
                if (repeatTimer_) repeatTimer_->SetEnabled(false);
            }
            break;
        default:
            break;
    }
    return TCustomControl::WndProc(msg);
}

void TTimerSpeedButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft && EnabledOnScreen()) {
        tracking_ = true;
        ::SetCapture(wnd_);
        SetDown(true);
    }
    TCustomControl::MouseDown(button, shift, x, y);
    if (RepeatFlags & rfAutoRepeat) {
        if (!repeatTimer_) {
            repeatTimer_ = std::make_unique<TTimer>();
            repeatTimer_->OnTimer = [this] { RepeatTick(); };
        }
        repeatTimer_->SetInterval(kFirstRepeatPause);
        repeatTimer_->SetEnabled(true);
    }
}

void TTimerSpeedButton::MouseMove(TShiftState shift, int x, int y) {
    TCustomControl::MouseMove(shift, x, y);
    if (!tracking_) return;
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    SetDown(::PtInRect(&rc, POINT{x, y}) != FALSE);
}

void TTimerSpeedButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseUp(button, shift, x, y);
    if (repeatTimer_) repeatTimer_->SetEnabled(false);
    if (button != mbLeft || !tracking_) return;
    tracking_ = false;
    SetDown(false);
    if (::GetCapture() == wnd_) ::ReleaseCapture();
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    if (::PtInRect(&rc, POINT{x, y})) Click();
}

void TTimerSpeedButton::RepeatTick() {
    repeatTimer_->SetInterval(kRepeatPause);
    if (down_ && ::GetCapture() == wnd_) {
        try {
            Click();
        } catch (...) {
            repeatTimer_->SetEnabled(false);
            throw;
        }
    }
}

void TTimerSpeedButton::Paint(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    ::DrawFrameControl(dc, &rc, DFC_BUTTON, DFCS_BUTTONPUSH | (down_ ? DFCS_PUSHED : 0u));
    const int shift = down_ ? 1 : 0;
    if (!Glyph.Empty()) {
        const int w = Glyph.Width() / std::max(NumGlyphs, 1), h = Glyph.Height();
        DrawGlyph(dc, (rc.right - w) / 2 + shift, (rc.bottom - h) / 2 + shift);
    }
    if (RepeatFlags & rfFocusFrame) {
        RECT frame = rc;
        ::InflateRect(&frame, -3, -3);
        ::OffsetRect(&frame, shift, shift);
        ::DrawFocusRect(dc, &frame);
    }
}

void TTimerSpeedButton::DrawGlyph(HDC dc, int x, int y) {
    const int n = std::max(NumGlyphs, 1);
    const int w = Glyph.Width() / n, h = Glyph.Height();
    const bool enabled = EnabledOnScreen();
    int index = 0;
    if (!enabled && n > 1)
        index = 1;
    else if (down_ && n > 2)
        index = 2;
    const COLORREF transparent = Glyph.PixelColor(0, Glyph.Height() - 1);

    TCanvas::Lease source(Glyph.Canvas(), true);
    HDC src = source.get();
    // The mask is white where the glyph shows its transparent colour.
    MemDc maskDc(::CreateCompatibleDC(dc));
    GdiBitmap mask(::CreateBitmap(w, h, 1, 1, nullptr));
    if (!maskDc || !mask) return;
    SelectGuard selectMask(maskDc.get(), mask.get());
    const COLORREF srcBack = ::SetBkColor(src, transparent);
    ::BitBlt(maskDc.get(), 0, 0, w, h, src, index * w, 0, SRCCOPY);
    ::SetBkColor(src, srcBack);

    // The mask turns black and white on the button as it is.
    const COLORREF text = ::SetTextColor(dc, RGB(0, 0, 0));
    const COLORREF back = ::SetBkColor(dc, RGB(255, 255, 255));
    if (enabled || n > 1) {
        ::BitBlt(dc, x, y, w, h, src, index * w, 0, SRCINVERT);
        ::BitBlt(dc, x, y, w, h, maskDc.get(), 0, 0, SRCAND);
        ::BitBlt(dc, x, y, w, h, src, index * w, 0, SRCINVERT);
    } else {
        // Embossed: the shape in the light colour a pixel down and right,
        // then in the shadow colour. The raster operation paints the brush
        // where the mask is black and keeps the button where it is white.
        const DWORD kBrushThroughMask = 0x00B8074A;
        {
            SelectGuard brush(dc, ::GetSysColorBrush(COLOR_BTNHIGHLIGHT));
            ::BitBlt(dc, x + 1, y + 1, w, h, maskDc.get(), 0, 0, kBrushThroughMask);
        }
        SelectGuard brush(dc, ::GetSysColorBrush(COLOR_BTNSHADOW));
        ::BitBlt(dc, x, y, w, h, maskDc.get(), 0, 0, kBrushThroughMask);
    }
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, back);
}

// ---- TSpinButton ----

TSpinButton::TSpinButton(TWinControl& parent, const TControlLayout& layout)
    : TWinControl(parent, layout, {RegisterOwnClass("TSpinButton"), WS_CLIPCHILDREN, 0}) {
    up_ = &MakeArrowButton();
    down_ = &MakeArrowButton();
    focused_ = up_;
    SetUpGlyph(nullptr);
    SetDownGlyph(nullptr);
    if (layout.Width == 0 || layout.Height == 0)
        SetBounds(Left(), Top(), ScaleValue(20), ScaleValue(25));
    int w = Width(), h = Height();
    FitArrowButtons(w, h);
    if (w != Width() || h != Height()) SetBounds(Left(), Top(), w, h);
}

TTimerSpeedButton& TSpinButton::MakeArrowButton() {
    const TControlLayout layout{nullptr, "", nullptr, 0, 0, 0, 0};
    auto& button = Add<TTimerSpeedButton>(layout);
    button.RepeatFlags = rfAutoRepeat;
    button.OnClick = [this](TControl* sender) { ArrowClicked(sender); };
    button.OnMouseDown = [this](TControl* sender, TMouseButton b, TShiftState, int, int) {
        ArrowMouseDown(sender, b);
    };
    return button;
}

TWinControl* TSpinButton::FocusControl() const {
    // Held by its window, so a control that is gone is no longer found.
    return dynamic_cast<TWinControl*>(TControl::FromHandle(focusControl_));
}

void TSpinButton::SetFocusControl(TWinControl* control) {
    focusControl_ = control ? control->Handle() : nullptr;
}

void TSpinButton::SetGlyph(TTimerSpeedButton& button, const TBitmap* bitmap,
                           const char* resource) {
    if (bitmap) {
        button.Glyph.Assign(*bitmap);
    } else {
        button.Glyph.FreeImage();
        button.Glyph.LoadFromResourceName(::GetModuleHandleA(nullptr), resource);
        button.NumGlyphs = 1;
    }
    button.Invalidate();
}

void TSpinButton::SetUpGlyph(const TBitmap* bitmap) { SetGlyph(*up_, bitmap, "SpinUp"); }
void TSpinButton::SetDownGlyph(const TBitmap* bitmap) { SetGlyph(*down_, bitmap, "SpinDown"); }

void TSpinButton::SetUpNumGlyphs(int n) {
    up_->NumGlyphs = n;
    up_->Invalidate();
}

void TSpinButton::SetDownNumGlyphs(int n) {
    down_->NumGlyphs = n;
    down_->Invalidate();
}

void TSpinButton::FitArrowButtons(int& w, int& h) {
    if (!up_ || !down_) return;
    w = std::max(w, ScaleValue(15));
    up_->SetBounds(0, 0, w, h / 2);
    // The pair shares one pixel row.
    const int upHeight = up_->Height();
    down_->SetBounds(0, upHeight - 1, w, h - upHeight + 1);
}

void TSpinButton::Repaint() {
    ::RedrawWindow(wnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TSpinButton::MoveFocusTo(TTimerSpeedButton& button) {
    if (!TabStop() || !CanFocus() || &button == focused_) return;
    focused_->RepeatFlags &= ~rfFocusFrame;
    focused_ = &button;
    if (Focused()) {
        focused_->RepeatFlags |= rfFocusFrame;
        Repaint();
    }
}

void TSpinButton::ArrowMouseDown(TControl* sender, TMouseButton button) {
    if (button != mbLeft) return;
    MoveFocusTo(*static_cast<TTimerSpeedButton*>(sender));
    TWinControl* target = FocusControl();
    if (target && target->TabStop() && target->CanFocus() && !target->Focused())
        target->SetFocus();
    else if (TabStop() && !Focused() && CanFocus())
        SetFocus();
}

void TSpinButton::ArrowClicked(TControl* sender) {
    if (sender == up_ && OnUpClick) OnUpClick(this);
    if (sender == down_ && OnDownClick) OnDownClick(this);
}

void TSpinButton::KeyDown(WORD& key, TShiftState shift) {
    switch (key) {
        case VK_UP:
            MoveFocusTo(*up_);
            up_->Click();
            break;
        case VK_DOWN:
            MoveFocusTo(*down_);
            down_->Click();
            break;
        case VK_SPACE:
            focused_->Click();
            break;
        default:
            break;
    }
    TWinControl::KeyDown(key, shift);
}

bool TSpinButton::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_GETDLGCODE:
            msg.Result = DLGC_WANTARROWS;
            return true;
        case WM_SIZE: {
            TWinControl::WndProc(msg);
            int w = Width(), h = Height();
            FitArrowButtons(w, h);
            if (w != Width() || h != Height()) SetBounds(Left(), Top(), w, h);
            msg.Result = 0;
            return true;
        }
        case WM_SETFOCUS:
            focused_->RepeatFlags |= rfFocusFrame;
            focused_->Invalidate();
            break;
        case WM_KILLFOCUS:
            focused_->RepeatFlags &= ~rfFocusFrame;
            focused_->Invalidate();
            break;
        default:
            break;
    }
    return TWinControl::WndProc(msg);
}

// ---- TSpinEdit ----

TSpinEdit::TSpinEdit(TWinControl& parent, const TControlLayout& layout)
    : TCustomEdit(parent, layout, ES_MULTILINE | WS_CLIPCHILDREN) {
    const TControlLayout buttonLayout{nullptr, "", nullptr, 0, 0, 15, 17};
    button_ = &Add<TSpinButton>(buttonLayout);
    button_->SetFocusControl(this);
    button_->OnUpClick = [this](TControl*) { StepUp(); };
    button_->OnDownClick = [this](TControl*) { StepDown(); };
    if (!layout.Text || !*layout.Text) SetText("0");
    // The window was sized before it was ours: place the arrows now.
    Resized();
}

TSpinEdit::~TSpinEdit() { button_ = nullptr; }

int TSpinEdit::ClampValue(int value) const {
    if (MaxValue == MinValue) return value;
    if (value < MinValue) return MinValue;
    if (value > MaxValue) return MaxValue;
    return value;
}

int TSpinEdit::Value() const {
    int value = 0;
    return ParseInt(Text(), value) ? value : MinValue;
}

void TSpinEdit::SetValue(int value) { SetText(std::to_string(ClampValue(value))); }

int TSpinEdit::MinimumHeight() {
    WindowDc dc(nullptr);
    TEXTMETRICA system{}, own{};
    ::GetTextMetricsA(dc.get(), &system);
    {
        SelectGuard font(dc.get(), Font().Handle());
        ::GetTextMetricsA(dc.get(), &own);
    }
    const int least = std::min(system.tmHeight, own.tmHeight);
    return own.tmHeight + least / 4 + ::GetSystemMetrics(SM_CYBORDER) * 4 + 2;
}

bool TSpinEdit::AcceptsChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    // A line break would make a second line in what is one line to the user.
    const bool control = u < 32 && u != '\r' && u != '\n';
    if (!EditorEnabled) return control && u != '\b';
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == DecimalSeparator() || control;
}

void TSpinEdit::StepUp() {
    if (ReadOnly()) {
        SpinMessageBeep(0);
        return;
    }
    // Wraps around in 32 bits.
    SetValue(static_cast<int>(static_cast<unsigned>(Value()) + static_cast<unsigned>(Increment)));
}

void TSpinEdit::StepDown() {
    if (ReadOnly()) {
        SpinMessageBeep(0);
        return;
    }
    SetValue(static_cast<int>(static_cast<unsigned>(Value()) - static_cast<unsigned>(Increment)));
}

void TSpinEdit::KeyDown(WORD& key, TShiftState shift) {
    if (key == VK_UP) StepUp();
    if (key == VK_DOWN) StepDown();
    TCustomEdit::KeyDown(key, shift);
}

void TSpinEdit::KeyPress(char& key) {
    if (!AcceptsChar(key)) {
        key = 0;
        SpinMessageBeep(0);
        return;
    }
    TCustomEdit::KeyPress(key);
}

void TSpinEdit::DoExit() {
    TCustomEdit::DoExit();
    const int value = Value();
    if (ClampValue(value) != value) SetValue(value);
}

void TSpinEdit::Resized() {
    const int least = MinimumHeight();
    if (Height() < least) {
        // Sized again, which brings the arrows along.
        SetHeight(least);
        return;
    }
    if (!button_) return;
    const int w = button_->Width();
    button_->SetBounds(Width() - w - 5, 0, w, Height() - 5);
    LayoutEditArea();
}

void TSpinEdit::LayoutEditArea() {
    // The text never runs under the arrows.
    RECT r{0, 0, ClientWidth() - button_->Width() - 2, ClientHeight() + 1};
    ::SendMessageA(wnd_, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&r));
}

bool TSpinEdit::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_SIZE:
            if (!TCustomEdit::WndProc(msg)) DefaultHandler(msg);
            Resized();
            msg.Result = 0;
            return true;
        case WM_PASTE:
        case WM_CUT:
            if (!EditorEnabled || ReadOnly()) {
                msg.Result = 0;
                return true;
            }
            break;
        case WM_ENABLE:
            // The arrows are greyed with the field.
            DefaultHandler(msg);
            if (button_)
                ::RedrawWindow(button_->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
            return true;
        default:
            break;
    }
    return TCustomEdit::WndProc(msg);
}
