// A form laid out again from its 96-DPI layout when it moves to a monitor of
// another DPI.
#include "ui/Dpi.h"
#include "ui/Forms.h"

namespace ui {

void TForm::PlaceAllAfterSiblings(TWinControl& container) {
    container.PlaceAfterSiblings();
    for (const auto& c : container.Controls())
        if (auto* w = dynamic_cast<TWinControl*>(c.get())) PlaceAllAfterSiblings(*w);
}

void TForm::Remember96(TControl& control, const RECT& bounds) {
    if (rescaling_) return;
    RECT& r = control.layout96_;
    // A control that sizes itself (a width or height of 0) keeps doing so.
    const bool width = r.right != r.left, height = r.bottom != r.top;
    r.left = ::MulDiv(bounds.left, 96, ppi_);
    r.top = ::MulDiv(bounds.top, 96, ppi_);
    // Sizes scale on their own, as at creation, so that a move to another
    // DPI gives the sizes a form opened there has.
    r.right = r.left + (width ? ::MulDiv(bounds.right - bounds.left, 96, ppi_) : 0);
    r.bottom = r.top + (height ? ::MulDiv(bounds.bottom - bounds.top, 96, ppi_) : 0);
}

void TForm::RescaleAll(TWinControl& container, int oldPpi) {
    for (const auto& c : container.Controls()) {
        TControl& control = *c;
        if (!control.parentFont_) {
            control.settingFont_ = true;
            ScopeExit reset([&control] { control.settingFont_ = false; });
            control.font_.SetHeight(::MulDiv(control.font_.Height(), ppi_, oldPpi));
        }
        // Inside first: a container's own sizing of its parts, run when it
        // is resized, has the last word.
        if (auto* w = dynamic_cast<TWinControl*>(&control)) RescaleAll(*w, oldPpi);
        if (control.wnd_) {
            const RECT& r = control.layout96_;
            const bool sized = r.right != r.left && r.bottom != r.top;
            const int x = ScaleValue(r.left), y = ScaleValue(r.top);
            const int w = sized ? ScaleValue(r.right - r.left) : control.Width();
            const int h = sized ? ScaleValue(r.bottom - r.top) : control.Height();
            ::MoveWindow(control.wnd_, x, y, w, h, TRUE);
        }
        control.DpiChanged(oldPpi, ppi_);
    }
}

SIZE TForm::WindowSizeAt(int ppi) const {
    RECT rc{0, 0, ::MulDiv(client96_.cx, ppi, 96), ::MulDiv(client96_.cy, ppi, 96)};
    AdjustWindowRectForDpi(rc, static_cast<DWORD>(::GetWindowLongA(wnd_, GWL_STYLE)),
                           static_cast<DWORD>(::GetWindowLongA(wnd_, GWL_EXSTYLE)), ppi);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

bool TForm::FitClientSize(int width, int height) {
    RECT client{}, window{};
    ::GetClientRect(wnd_, &client);
    ::GetWindowRect(wnd_, &window);
    const int dw = width - client.right, dh = height - client.bottom;
    if (!dw && !dh) return false;
    ::SetWindowPos(wnd_, nullptr, 0, 0, window.right - window.left + dw,
                   window.bottom - window.top + dh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

void TForm::ChangeDpi(int ppi, const RECT& suggested) {
    const int oldPpi = ppi_;
    const SIZE size = WindowSizeAt(ppi);
    rescaling_ = true;
    ScopeExit done([this] { rescaling_ = false; });
    ppi_ = ppi;
    if (ppi != oldPpi) {
        // Fonts first: controls that fit their text measure the new one.
        Font().SetHeight(::MulDiv(fontHeight96_, ppi, 96));
        RescaleAll(*this, oldPpi);
    }
    ::SetWindowPos(wnd_, nullptr, suggested.left, suggested.top, size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    FitClientSize(::MulDiv(client96_.cx, ppi, 96), ::MulDiv(client96_.cy, ppi, 96));
    RealignAll(*this);
    PlaceAllAfterSiblings(*this);
    ::RedrawWindow(wnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    if (OnDpiChanged) OnDpiChanged();
}

}  // namespace ui
