#include "ui/Controls.h"

#include "ui/Exception.h"
#include "ui/Forms.h"
#include "ui/Strings.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

namespace ui {

namespace {
// Our subclass of a platform control, among any others it may have.
constexpr UINT_PTR kSubclassId = 0x4B43;  // "KC"

bool OwnProcess(HWND wnd) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    return pid == ::GetCurrentProcessId();
}
}  // namespace

HCURSOR CursorHandle(TCursor cursor) {
    LPCSTR id = reinterpret_cast<LPCSTR>(IDC_ARROW);
    switch (cursor) {
        case crCross: id = reinterpret_cast<LPCSTR>(IDC_CROSS); break;
        case crIBeam: id = reinterpret_cast<LPCSTR>(IDC_IBEAM); break;
        case crHandPoint: id = reinterpret_cast<LPCSTR>(IDC_HAND); break;
        default: break;
    }
    return ::LoadCursorA(nullptr, id);
}

TShiftState KeyboardShiftState() {
    TShiftState s = 0;
    if (::GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

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

// ---- TControl ----

TControl::TControl() { font_.OnChange = [this] { ApplyFont(); }; }

TControl::TControl(TWinControl& parent, const TControlLayout& layout, const TCreateParams& params)
    : TControl(parent, layout) {
    CreateHandle(layout, params);
}

TControl::TControl(TWinControl& parent, const TControlLayout& layout)
    : parent_(&parent), name_(layout.Name ? layout.Name : ""), tabOrder_(layout.TabOrder) {
    settingFont_ = true;
    font_.Assign(parent.Font());
    if (layout.Options & loBold) font_.SetStyle(font_.Style() | fsBold);
    if (layout.Options & loLink) {
        font_.SetStyle(font_.Style() | fsUnderline);
        font_.SetColor(clBlue);
        cursor_ = crHandPoint;
    }
    settingFont_ = false;
    parentFont_ = !(layout.Options & (loBold | loLink));
    font_.OnChange = [this] { ApplyFont(); };
    if (layout.Options & loWindowColor) color_ = clWindow;
    if (layout.Options & loInfoColor) color_ = clInfoBk;
    if (layout.Options & loAlignTop) align_ = alTop;
    if (layout.Options & loAlignBottom) align_ = alBottom;
    if (layout.Options & loAlignLeft) align_ = alLeft;
    if (layout.Options & loAlignRight) align_ = alRight;
    if (layout.Options & loAlignClient) align_ = alClient;
    layoutLeft_ = layout.Left;
    layout96_ = {layout.Left, layout.Top, layout.Left + layout.Width, layout.Top + layout.Height};
    if (layout.Options & loAfterFlag) afterGap_ = static_cast<int>(layout.Options >> 24);
}

TControl::~TControl() {
    if (TForm* form = parent_ ? Form() : nullptr) {
        if (form->active_ == this) form->active_ = nullptr;
        if (form->shownDefault_ == this) form->shownDefault_ = nullptr;
        if (form->DefaultButton == this) form->DefaultButton = nullptr;
        if (form->CancelButton == this) form->CancelButton = nullptr;
    }
    DestroyHandle();
}

void TControl::DestroyHandle() {
    if (!wnd_) return;
    // Unbound first: the window's last messages go to its default procedure.
    Unbind(wnd_);
    ::DestroyWindow(std::exchange(wnd_, nullptr));
}

void TControl::Unbind(HWND wnd) noexcept {
    if (subclassed_)
        ::RemoveWindowSubclass(wnd, &TControl::SubclassProc, kSubclassId);
    else
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
}

const char* TControl::RegisterOwnClass(const char* name, UINT style, HICON icon) {
    WNDCLASSA wc = {};
    if (!::GetClassInfoA(::GetModuleHandleA(nullptr), name, &wc)) {
        wc.style = style;
        wc.hIcon = icon;
        wc.lpfnWndProc = &TControl::StaticWndProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = name;
        if (!::RegisterClassA(&wc)) RaiseLastOSError();
    }
    return name;
}

void TControl::CreateHandle(const TControlLayout& layout, const TCreateParams& params) {
    DWORD style = params.Style | WS_CHILD | WS_CLIPSIBLINGS;
    if (!(layout.Options & loHidden)) style |= WS_VISIBLE;
    if (layout.Options & loDisabled) style |= WS_DISABLED;
    // Containers are walked into by Tab; they take no focus themselves.
    if (layout.TabOrder >= 0 && !(params.ExStyle & WS_EX_CONTROLPARENT)) style |= WS_TABSTOP;
    static int nextId = 100;
    const int id = nextId++;
    wnd_ = ::CreateWindowExA(params.ExStyle, params.ClassName, layout.Text ? layout.Text : "",
                             style, ScaleValue(layout.Left), ScaleValue(layout.Top),
                             ScaleValue(layout.Width), ScaleValue(layout.Height),
                             parent_->Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleA(nullptr), this);
    if (!wnd_) RaiseLastOSError();
    if (!FromHandle(wnd_)) {
        // A window of the platform's classes: its own procedure stays the
        // default, and whoever subclasses it after us stays hooked.
        subclassed_ = true;
        if (!::SetWindowSubclass(wnd_, &TControl::SubclassProc, kSubclassId,
                                 reinterpret_cast<DWORD_PTR>(this))) {
            ::DestroyWindow(std::exchange(wnd_, nullptr));
            throw Exception(std::string("Cannot take the messages of a ") + params.ClassName +
                            " control");
        }
    }
    ::SendMessageA(wnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
}

TControl* TControl::FromHandle(HWND wnd) {
    if (!wnd || !OwnProcess(wnd)) return nullptr;
    // Windows of our own classes carry their object in the user data; the
    // class procedure tells them apart, whatever subclasses them.
    if (::GetClassLongPtrA(wnd, GCLP_WNDPROC) == reinterpret_cast<ULONG_PTR>(&TControl::StaticWndProc))
        return reinterpret_cast<TControl*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    DWORD_PTR self = 0;
    if (::GetWindowSubclass(wnd, &TControl::SubclassProc, kSubclassId, &self))
        return reinterpret_cast<TControl*>(self);
    return nullptr;
}

LRESULT CALLBACK TControl::StaticWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCCREATE) {
        // Bound before any other message.
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        if (auto* self = static_cast<TControl*>(cs->lpCreateParams)) {
            self->wnd_ = wnd;
            ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    }
    auto* self = reinterpret_cast<TControl*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcA(wnd, msg, wp, lp);
    return self->Dispatch(wnd, msg, wp, lp);
}

LRESULT CALLBACK TControl::SubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                        DWORD_PTR ref) noexcept {
    return reinterpret_cast<TControl*>(ref)->Dispatch(wnd, msg, wp, lp);
}

LRESULT TControl::Dispatch(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCDESTROY) {
        Unbind(wnd);
        wnd_ = nullptr;
        return CallDefault(wnd, msg, wp, lp);
    }
    if (dying_) return CallDefault(wnd, msg, wp, lp);
    TMessage m{msg, wp, lp, 0};
    bool handled = false;
    try {
        handled = WndProc(m);
    } catch (...) {
        Application.PostException();
    }
    return handled ? m.Result : CallDefault(wnd, msg, m.WParam, m.LParam);
}

LRESULT TControl::CallDefault(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) const noexcept {
    return subclassed_ ? ::DefSubclassProc(wnd, msg, wp, lp) : ::DefWindowProcA(wnd, msg, wp, lp);
}

LRESULT TControl::DefaultHandler(TMessage& msg) {
    msg.Result = CallDefault(wnd_, msg.Msg, msg.WParam, msg.LParam);
    return msg.Result;
}

void TControl::MarkDying() {
    dying_ = true;
    DestroyingWindows();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        for (const auto& c : w->controls_) c->MarkDying();
}

TForm* TControl::Form() const {
    const TControl* c = this;
    while (c->parent_) c = c->parent_;
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

int TControl::ScaleValue(int pixels) const {
    TForm* form = Form();
    int ppi = form ? form->PixelsPerInch() : 96;
    return ::MulDiv(pixels, ppi, 96);
}

bool TControl::WndProc(TMessage& msg) {
    const int x = GET_X_LPARAM(msg.LParam), y = GET_Y_LPARAM(msg.LParam);
    TMouseButton button = mbLeft;
    switch (msg.Msg) {
        case WM_SETCURSOR:
            if (Screen.Cursor() != crDefault) {
                ::SetCursor(CursorHandle(Screen.Cursor()));
                msg.Result = TRUE;
                return true;
            }
            if (cursor_ != crDefault && LOWORD(msg.LParam) == HTCLIENT &&
                reinterpret_cast<HWND>(msg.WParam) == wnd_) {
                ::SetCursor(CursorHandle(cursor_));
                msg.Result = TRUE;
                return true;
            }
            return false;
        case WM_SETFOCUS:
            if (TForm* form = Form()) form->FocusChanged(wnd_);
            return false;
        case WM_KILLFOCUS: {
            // Into a window not of ours (an embedded object's), which will
            // not say so itself.
            HWND to = reinterpret_cast<HWND>(msg.WParam);
            if (to && !FromHandle(to))
                if (TForm* form = Form()) form->FocusMovedElsewhere();
            return false;
        }
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN: {
            WORD key = static_cast<WORD>(msg.WParam);
            KeyDown(key, KeyboardShiftState());
            if (key == 0) return true;
            msg.WParam = key;
            return false;
        }
        case WM_KEYUP:
        case WM_SYSKEYUP: {
            WORD key = static_cast<WORD>(msg.WParam);
            KeyUp(key, KeyboardShiftState());
            if (key == 0) return true;
            msg.WParam = key;
            return false;
        }
        case WM_CHAR: {
            // A subclassed platform control takes its characters in UTF-16;
            // the handlers see the code page's, and a character they leave
            // alone goes on as it came.
            const bool wide = subclassed_ && ::IsWindowUnicode(wnd_);
            const char was = wide ? AnsiChar(static_cast<wchar_t>(msg.WParam))
                                  : static_cast<char>(msg.WParam);
            char key = was;
            KeyPress(key);
            if (key == 0) return true;
            if (key != was) msg.WParam = wide ? WideChar(key) : static_cast<unsigned char>(key);
            return false;
        }
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: button = mbRight; goto down;
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: button = mbMiddle; goto down;
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK:
        down:
            if (CaptureMouse) {
                ::SetCapture(wnd_);
                mousePressed_ = true;
            }
            MouseDown(button, ShiftFromKeys(msg.WParam), x, y);
            if (msg.Msg == WM_LBUTTONDBLCLK && OnDblClick) OnDblClick(this);
            return false;
        case WM_MOUSEMOVE:
            MouseMove(ShiftFromKeys(msg.WParam), x, y);
            return false;
        case WM_RBUTTONUP: button = mbRight; goto up;
        case WM_MBUTTONUP: button = mbMiddle; goto up;
        case WM_LBUTTONUP:
        up: {
            const bool captured = ::GetCapture() == wnd_;
            const bool held = (msg.WParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) != 0;
            if (CaptureMouse && captured && !held) ::ReleaseCapture();
            if (CaptureMouse) {
                // A press elsewhere released over this control is no click
                // here, as with the platform's buttons.
                if (!mousePressed_) return false;
                if (!held) mousePressed_ = false;
            }
            MouseUp(button, ShiftFromKeys(msg.WParam), x, y);
            if (CaptureMouse && button == mbLeft) {
                RECT rc;
                ::GetClientRect(wnd_, &rc);
                POINT pt{x, y};
                if (::PtInRect(&rc, pt)) Click();
            }
            return false;
        }
        default:
            return false;
    }
}

bool TControl::Reflected(TMessage& msg) {
    switch (msg.Msg) {
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORLISTBOX: {
            HDC dc = reinterpret_cast<HDC>(msg.WParam);
            if (Enabled()) ::SetTextColor(dc, ColorToRGB(font_.Color()));
            const TColor color = Color();
            ::SetBkColor(dc, ColorToRGB(color));
            msg.Result = reinterpret_cast<LRESULT>(ColorBrush(color));
            return true;
        }
        default:
            return false;
    }
}

void TControl::Click() {
    if (OnClick) OnClick(this);
}

void TControl::DoEnter() {
    if (OnEnter) OnEnter(this);
}

void TControl::DoExit() {
    if (OnExit) OnExit(this);
}

void TControl::KeyDown(WORD& key, TShiftState shift) {
    if (OnKeyDown) OnKeyDown(this, key, shift);
}

void TControl::KeyUp(WORD& key, TShiftState shift) {
    if (OnKeyUp) OnKeyUp(this, key, shift);
}

void TControl::KeyPress(char& key) {
    if (OnKeyPress) OnKeyPress(this, key);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TControl::ApplyFont() {
    if (!settingFont_) parentFont_ = false;
    if (wnd_) {
        ::SendMessageA(wnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), TRUE);
        FontChanged();
    }
    if (auto* w = dynamic_cast<TWinControl*>(this)) w->ChildFontChanged();
}

void TControl::ParentFontChanged() {
    if (!parentFont_ || !parent_) return;
    settingFont_ = true;
    ScopeExit reset([this] { settingFont_ = false; });
    font_.Assign(parent_->Font());
}

void TControl::SetParentFont(bool value) {
    parentFont_ = value;
    if (value) ParentFontChanged();
}

TColor TControl::Color() const {
    if (color_ != clDefault) return color_;
    return parent_ ? parent_->Color() : clBtnFace;
}

void TControl::SetColor(TColor color) {
    color_ = color;
    Invalidate();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (TForm* form = Form()) form->Remember96(*this, RECT{left, top, left + width, top + height});
    ::MoveWindow(wnd_, left, top, width, height, TRUE);
}

RECT TControl::BoundsRect() const {
    RECT rc{};
    ::GetWindowRect(wnd_, &rc);
    if (HWND parent = ::GetParent(wnd_))
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

int TControl::Width() const { RECT r = BoundsRect(); return r.right - r.left; }
int TControl::Height() const { RECT r = BoundsRect(); return r.bottom - r.top; }

int TControl::ClientWidth() const {
    RECT rc{};
    ::GetClientRect(wnd_, &rc);
    return rc.right;
}

int TControl::ClientHeight() const {
    RECT rc{};
    ::GetClientRect(wnd_, &rc);
    return rc.bottom;
}

void TControl::SetAlign(TAlign align) {
    align_ = align;
    if (parent_) parent_->Realign();
}

bool TControl::Visible() const {
    return (::GetWindowLongA(wnd_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetVisible(bool visible) {
    ::ShowWindow(wnd_, visible ? SW_SHOWNA : SW_HIDE);
    if (parent_ && align_ != alNone) parent_->Realign();
}

bool TControl::Enabled() const { return ::IsWindowEnabled(wnd_) != FALSE; }
void TControl::SetEnabled(bool enabled) { ::EnableWindow(wnd_, enabled ? TRUE : FALSE); }

void TControl::SetCaption(const std::string& text) { ::SetWindowTextA(wnd_, text.c_str()); }

std::string TControl::Caption() const {
    int n = ::GetWindowTextLengthA(wnd_);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    n = ::GetWindowTextA(wnd_, s.data(), n + 1);
    s.resize(static_cast<size_t>(std::max(n, 0)));
    return s;
}

bool TControl::TabStop() const { return (::GetWindowLongA(wnd_, GWL_STYLE) & WS_TABSTOP) != 0; }

void TControl::SetTabStop(bool value) {
    LONG style = ::GetWindowLongA(wnd_, GWL_STYLE);
    ::SetWindowLongA(wnd_, GWL_STYLE, value ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
}

bool TControl::Focused() const { return wnd_ && ::GetFocus() == wnd_; }

bool TControl::CanFocus() const {
    for (HWND w = wnd_; w; w = ::GetParent(w))
        if (!::IsWindowVisible(w) || !::IsWindowEnabled(w)) return false;
    return wnd_ != nullptr;
}

void TControl::SetFocus() {
    if (!CanFocus()) throw Exception("Cannot focus a disabled or invisible window");
    ::SetFocus(wnd_);
}

void TControl::Invalidate() {
    if (wnd_) ::InvalidateRect(wnd_, nullptr, TRUE);
}

void TControl::Update() {
    if (wnd_) ::UpdateWindow(wnd_);
}

// ---- TWinControl ----

TWinControl::~TWinControl() { DestroyChildren(); }

void TWinControl::DestroyChildren() {
    MarkDying();
    // The windows go first, while every object can still take their last
    // messages; no event handler runs any more.
    DestroyHandle();
    while (!controls_.empty()) controls_.pop_back();
}

TControl& TWinControl::Adopt(std::unique_ptr<TControl> child) {
    controls_.push_back(std::move(child));
    return *controls_.back();
}

TControl& TWinControl::Add(const TControlLayout& layout) {
    if (!layout.Kind) throw Exception(std::string("No kind for control ") + layout.Name);
    TControl& child = Adopt(std::unique_ptr<TControl>(layout.Kind(*this, layout)));
    if (child.afterGap_ >= 0) PlaceAfterSiblings();
    return child;
}

void TWinControl::PlaceAfterSiblings() {
    const TControl* previous = nullptr;
    for (const auto& c : controls_) {
        if (previous && c->afterGap_ >= 0 && c->align_ == alNone && c->wnd_) {
            const int after = static_cast<int>(previous->BoundsRect().right) + c->ScaleValue(c->afterGap_);
            const int left = std::max(c->ScaleValue(c->layoutLeft_), after);
            if (left != c->Left()) c->SetLeft(left);
        }
        previous = c.get();
    }
}

void TWinControl::Remove(TControl& child) {
    auto it = std::find_if(controls_.begin(), controls_.end(),
                           [&](const std::unique_ptr<TControl>& c) { return c.get() == &child; });
    if (it == controls_.end()) return;
    std::unique_ptr<TControl> gone = std::move(*it);
    controls_.erase(it);
    gone->MarkDying();
    gone->DestroyHandle();
}

TControl* TWinControl::FindControl(const std::string& name) const {
    for (const auto& c : controls_) {
        if (c->Name() == name) return c.get();
        if (auto* w = dynamic_cast<TWinControl*>(c.get()))
            if (TControl* found = w->FindControl(name)) return found;
    }
    return nullptr;
}

void TWinControl::ChildFontChanged() {
    for (const auto& c : controls_) c->ParentFontChanged();
}

void TWinControl::Realign() {
    if (!wnd_) return;
    RECT client;
    ::GetClientRect(wnd_, &client);
    for (const auto& c : controls_) {
        if (!c->Visible()) continue;
        const int w = c->Width(), h = c->Height();
        switch (c->Align()) {
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
    for (const auto& c : controls_)
        if (c->Align() == alClient && c->Visible())
            c->SetBounds(client.left, client.top, client.right - client.left,
                         client.bottom - client.top);
}

void TWinControl::ApplyTabOrder() {
    std::vector<TControl*> order;
    for (const auto& c : controls_)
        if (c->tabOrder_ >= 0) order.push_back(c.get());
    std::stable_sort(order.begin(), order.end(),
                     [](TControl* a, TControl* b) { return a->tabOrder_ < b->tabOrder_; });
    // A control outside the tab order (a label) stays just before the one
    // that follows it in the layout: a label's mnemonic leads there.
    for (auto it = controls_.begin(); it != controls_.end(); ++it) {
        if ((*it)->tabOrder_ >= 0) continue;
        auto follower = std::find_if(it + 1, controls_.end(),
                                     [](const std::unique_ptr<TControl>& c) { return c->tabOrder_ >= 0; });
        auto at = follower == controls_.end() ? order.end()
                                               : std::find(order.begin(), order.end(), follower->get());
        order.insert(at, it->get());
    }
    // The dialog manager walks siblings in z-order.
    HWND after = HWND_TOP;
    for (TControl* c : order) {
        if (!c->wnd_) continue;
        ::SetWindowPos(c->wnd_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = c->wnd_;
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->ApplyTabOrder();
    }
}

void TWinControl::PaintBackground(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    ::FillRect(dc, &rc, ColorBrush(Color()));
}

namespace {
// The object of the control a notification is about: nearly always a child
// of the container's own, found without asking the window system.
TControl* NotifyingControl(const TWinControl& parent, HWND from, bool orOwner) {
    if (!from) return nullptr;
    for (const auto& c : parent.Controls())
        if (c->Handle() == from) return c.get();
    if (TControl* c = TControl::FromHandle(from)) return c;
    // Tooltips of a control are owned by it.
    return orOwner ? TControl::FromHandle(::GetWindow(from, GW_OWNER)) : nullptr;
}
}  // namespace

bool TWinControl::WndProc(TMessage& msg) {
    TControl* child = nullptr;
    switch (msg.Msg) {
        case WM_COMMAND:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_HSCROLL:
        case WM_VSCROLL:
            child = NotifyingControl(*this, reinterpret_cast<HWND>(msg.LParam), false);
            break;
        case WM_NOTIFY:
            child = NotifyingControl(*this, reinterpret_cast<NMHDR*>(msg.LParam)->hwndFrom, true);
            break;
        case WM_DRAWITEM: {
            auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(msg.LParam);
            if (dis->CtlType != ODT_MENU) child = NotifyingControl(*this, dis->hwndItem, false);
            break;
        }
        case WM_SIZE:
            Realign();
            return TControl::WndProc(msg);
        case WM_ERASEBKGND:
            if (subclassed_) return false;
            PaintBackground(reinterpret_cast<HDC>(msg.WParam));
            msg.Result = 1;
            return true;
        default:
            return TControl::WndProc(msg);
    }
    if (child && child != this && !child->dying_ && child->Reflected(msg)) return true;
    return TControl::WndProc(msg);
}

// ---- TCustomControl and TImage ----

TCustomControl::TCustomControl(TWinControl& parent, const TControlLayout& layout,
                               const char* className, DWORD style, DWORD exStyle)
    : TWinControl(parent, layout, {RegisterOwnClass(className), style, exStyle}) {
    CaptureMouse = true;
}

bool TCustomControl::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_ERASEBKGND:
            // Paint covers everything.
            msg.Result = 1;
            return true;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(wnd_, &ps);
            ScopeExit end([&] { ::EndPaint(wnd_, &ps); });
            Paint(dc);
            msg.Result = 0;
            return true;
        }
        default:
            return TWinControl::WndProc(msg);
    }
}

}  // namespace ui
