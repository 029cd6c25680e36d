#include "ui/StdCtrls.h"

#include "ui/Forms.h"

namespace ui {

// ---- TImage ----

TImage::TImage(TWinControl& parent, const TControlLayout& layout)
    : TCustomControl(parent, layout, "TImage") {}

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
    HBRUSH background = ColorBrush(Color());
    if (bmp.Empty()) {
        ::FillRect(dc, &rc, background);
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
        GdiRegion outside(::CreateRectRgnIndirect(&rc));
        GdiRegion pic(::CreateRectRgn(0, 0, bmp.Width(), bmp.Height()));
        ::CombineRgn(outside.get(), outside.get(), pic.get(), RGN_DIFF);
        ::FillRgn(dc, outside.get(), background);
    }
}

// ---- TButton and TCheckBox ----

TButton::TButton(TWinControl& parent, const TControlLayout& layout, DWORD style)
    : TControl(parent, layout, {"BUTTON", style, 0}) {}

TButton::TButton(TWinControl& parent, const TControlLayout& layout)
    : TButton(parent, layout,
              (layout.Options & loDefault) ? DWORD(BS_DEFPUSHBUTTON) : DWORD(BS_PUSHBUTTON)) {
    ModalResult = layout.ModalResult;
    default_ = (layout.Options & loDefault) != 0;
    cancel_ = (layout.Options & loCancel) != 0;
    if (TForm* form = Form()) {
        if (default_) form->DefaultButton = this;
        if (cancel_) form->CancelButton = this;
    }
}

void TButton::Click() {
    // The form's result is set before the handler runs, which may clear it
    // to keep the form open.
    if (ModalResult != mrNone)
        if (TForm* form = Form()) form->ModalResult = ModalResult;
    TControl::Click();
}

bool TButton::Reflected(TMessage& msg) {
    if (msg.Msg == WM_COMMAND && HIWORD(msg.WParam) == BN_CLICKED) {
        Click();
        msg.Result = 0;
        return true;
    }
    return TControl::Reflected(msg);
}

TCheckBox::TCheckBox(TWinControl& parent, const TControlLayout& layout)
    : TButton(parent, layout, BS_AUTOCHECKBOX) {
    if (layout.Options & loChecked) SetChecked(true);
}

bool TCheckBox::Checked() const {
    return ::SendMessageA(wnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked) {
    ::SendMessageA(wnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::Reflected(TMessage& msg) {
    if (msg.Msg == WM_COMMAND && HIWORD(msg.WParam) == BN_CLICKED) {
        // The box has toggled itself already.
        TControl::Click();
        return true;
    }
    return TButton::Reflected(msg);
}

void TCheckBox::Click() {
    // The user's click has toggled the box already; a click by code does it here.
    SetChecked(!Checked());
    TControl::Click();
}

// ---- TCustomEdit ----

TCustomEdit::TCustomEdit(TWinControl& parent, const TControlLayout& layout, DWORD extraStyle)
    : TWinControl(parent, layout,
                  {"EDIT",
                   ES_AUTOHSCROLL | extraStyle | ((layout.Options & loReadOnly) ? ES_READONLY : 0u),
                   (layout.Options & loNoBorder) ? 0u : DWORD(WS_EX_CLIENTEDGE)}) {
    SetColor(clWindow);
}

bool TCustomEdit::ReadOnly() const {
    return (::GetWindowLongA(wnd_, GWL_STYLE) & ES_READONLY) != 0;
}

void TCustomEdit::SetReadOnly(bool value) {
    ::SendMessageA(wnd_, EM_SETREADONLY, value ? TRUE : FALSE, 0);
}

void TCustomEdit::SetMaxLength(int value) {
    maxLength_ = value;
    ::SendMessageA(wnd_, EM_SETLIMITTEXT, static_cast<WPARAM>(value), 0);
}

void TCustomEdit::SelectAll() { ::SendMessageA(wnd_, EM_SETSEL, 0, -1); }

int TCustomEdit::SelStart() const {
    DWORD start = 0;
    ::SendMessageA(wnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    return static_cast<int>(start);
}

int TCustomEdit::SelLength() const {
    DWORD start = 0, end = 0;
    ::SendMessageA(wnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end - start);
}

void TCustomEdit::SetSel(int start, int length) {
    ::SendMessageA(wnd_, EM_SETSEL, static_cast<WPARAM>(start), start + length);
}

bool TCustomEdit::Modified() const { return ::SendMessageA(wnd_, EM_GETMODIFY, 0, 0) != 0; }

bool TCustomEdit::Reflected(TMessage& msg) {
    if (msg.Msg == WM_COMMAND && HIWORD(msg.WParam) == EN_CHANGE) {
        if (OnChange) OnChange(this);
        return true;
    }
    return TWinControl::Reflected(msg);
}

bool TCustomEdit::WndProc(TMessage& msg) {
    if (msg.Msg == WM_GETDLGCODE) {
        // Even a multi-line edit leaves Tab, Enter and Esc to the dialog keys.
        DefaultHandler(msg);
        msg.Result &= ~DLGC_WANTALLKEYS;
        msg.Result |= DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_HASSETSEL;
        return true;
    }
    return TWinControl::WndProc(msg);
}

void TCustomEdit::DoEnter() {
    if (AutoSelect && ::GetKeyState(VK_LBUTTON) >= 0) SelectAll();
    TWinControl::DoEnter();
}

// ---- TLabel ----

TLabel::TLabel(TWinControl& parent, const TControlLayout& layout)
    : TControl(parent, layout, {"STATIC", SS_LEFT | SS_NOTIFY, 0}),
      autoSize_(layout.Width == 0 || layout.Height == 0),
      wrapWidth_(layout.Height == 0 ? layout.Width : 0) {
    if (autoSize_) AdjustBounds();
}

void TLabel::SetAutoSize(bool value) {
    autoSize_ = value;
    if (value) AdjustBounds();
}

void TLabel::AdjustBounds() {
    WindowDc dc(wnd_);
    SelectGuard sel(dc.get(), Font().Handle());
    std::string text = Caption();
    RECT r{0, 0, 0, 0};
    if (text.empty()) {
        TEXTMETRICA tm{};
        ::GetTextMetricsA(dc.get(), &tm);
        r.bottom = tm.tmHeight;
    } else {
        UINT flags = DT_CALCRECT | DT_LEFT | DT_EXPANDTABS;
        if (wrapWidth_ > 0) {
            r.right = ScaleValue(wrapWidth_);
            flags |= DT_WORDBREAK;
        }
        ::DrawTextA(dc.get(), text.c_str(), static_cast<int>(text.size()), &r, flags);
    }
    RECT b = BoundsRect();
    ::MoveWindow(wnd_, b.left, b.top, r.right, r.bottom, TRUE);
    if (parent_) parent_->PlaceAfterSiblings();
}

void TLabel::FontChanged() {
    if (autoSize_) AdjustBounds();
}

bool TLabel::WndProc(TMessage& msg) {
    if (msg.Msg == WM_NCHITTEST && !OnClick && !OnDblClick) {
        // As the platform's static without notifications: the mouse goes to
        // what lies beneath, such as a field the text reaches over.
        msg.Result = HTTRANSPARENT;
        return true;
    }
    if (msg.Msg != WM_SETTEXT) return TControl::WndProc(msg);
    DefaultHandler(msg);
    if (autoSize_) AdjustBounds();
    return true;
}

bool TLabel::Reflected(TMessage& msg) {
    if (msg.Msg == WM_COMMAND && HIWORD(msg.WParam) == STN_CLICKED) {
        Click();
        return true;
    }
    if (msg.Msg == WM_COMMAND && HIWORD(msg.WParam) == STN_DBLCLK) {
        if (OnDblClick) OnDblClick(this);
        return true;
    }
    return TControl::Reflected(msg);
}

}  // namespace ui
