#include "wizard/PictureEditor.h"

#include "common/KestrixInc.h"

using namespace ui;

namespace {
// The ground of the tool glyphs, which the image list leaves transparent.
const TColor kGlyphGround = RGB(255, 0, 255);

// The text box: Enter is its own key, not the dialog's default button.
class TTextBox : public TEdit {
public:
    TTextBox(TWinControl& parent, const TControlLayout& layout) : TEdit(parent, layout) {}

protected:
    bool WndProc(TMessage& msg) override {
        if (msg.Msg == WM_GETDLGCODE) {
            TEdit::WndProc(msg);
            auto* m = reinterpret_cast<const MSG*>(msg.LParam);
            if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) msg.Result |= DLGC_WANTMESSAGE;
            return true;
        }
        // Enter has been handled at its key-down; a lone carriage return
        // would only beep.
        if (msg.Msg == WM_CHAR && msg.WParam == '\r') return true;
        return TEdit::WndProc(msg);
    }
};
}  // namespace

TPictureEditor::TPictureEditor(const EditorControls& controls) : c_(controls) {
    // Move, brush, line, square, text, circle, settings: 16 x 16 each.
    TImageList glyphs(16, 16);
    glyphs.AddResource(::GetModuleHandleA(nullptr), "ToolGlyphs", kGlyphGround);
    c_.toolBar.SetImages(std::move(glyphs));
    c_.toolBar.SetButtonSize(23, 22);
    c_.tbMove.Hint = "Move image";
    c_.tbPaint.Hint = "Free hand paint";
    c_.tbLine.Hint = "Paint a line";
    c_.tbEllipse.Hint = "Draw ellipse";
    c_.tbSquare.Hint = "Draw square";
    c_.tbText.Hint = "Type text";
    c_.tbSettings.Hint = "Image settings";
    c_.tbEllipse.SetImageIndex(5);
    c_.tbSquare.SetImageIndex(3);
    c_.tbText.SetImageIndex(4);
    c_.tbSettings.SetImageIndex(6);
    c_.penColor.Hint = "Pen color";
    c_.penColor.SetBrushColor(clRed);
    c_.screenShot.SetCursor(crHandPoint);
    c_.fontClickTimer.SetInterval(500);

    c_.tbMove.OnClick = [this](TControl*) { tbMoveClick(); };
    c_.tbPaint.OnClick = [this](TControl*) { tbPaintClick(); };
    c_.tbLine.OnClick = [this](TControl*) { tbLineClick(); };
    c_.tbEllipse.OnClick = [this](TControl*) { tbEllipseClick(); };
    c_.tbSquare.OnClick = [this](TControl*) { tbSquareClick(); };
    c_.tbText.OnClick = [this](TControl*) { tbTextClick(); };
    c_.tbSettings.OnClick = [this](TControl*) { tbSettingsClick(); };
    c_.tbText.OnMouseDown = [this](auto...) { tbTextMouseDown(); };
    c_.tbText.OnMouseUp = [this](auto...) { tbTextMouseUp(); };
    c_.screenShot.OnMouseDown = [this](TControl*, TMouseButton b, TShiftState s, int x, int y) {
        ScreenShotMouseDown(b, s, x, y);
    };
    c_.screenShot.OnMouseMove = [this](TControl*, TShiftState s, int x, int y) { ScreenShotMouseMove(s, x, y); };
    c_.screenShot.OnMouseUp = [this](TControl*, TMouseButton b, TShiftState s, int x, int y) {
        ScreenShotMouseUp(b, s, x, y);
    };
    c_.penColor.OnMouseUp = [this](auto...) { PenColorMouseUp(); };
    c_.fontClickTimer.OnTimer = [this] { FontClickTimerTimer(); };
}

void TPictureEditor::Reset() {
    SaveUnderBitmap.reset();
    TextBox = nullptr;
    Dragging = false;
    AnchorX = AnchorY = 0;
    FontButtonReleased = false;
    History.Clear();
}

void TPictureEditor::Clear() {
    SaveUnderBitmap.reset();
    if (TextBox) {
        c_.scrollBox.Remove(*TextBox);
        TextBox = nullptr;
    }
    History.Clear();
}

void TPictureEditor::CommitOpenText() {
    if (TextBox && TextBox->Visible()) CommitText();
}

void TPictureEditor::Changed() {
    if (OnPictureChange) OnPictureChange();
}

void TPictureEditor::FormActivate() {
    const int vw = c_.scrollBox.ClientWidth(), vh = c_.scrollBox.ClientHeight();
    const int pw = Picture().Width(), ph = Picture().Height();
    if (vw > pw) c_.screenShot.SetLeft(vw / 2 - pw / 2);
    if (vh > ph) c_.screenShot.SetTop(vh / 2 - ph / 2);
}

TPictureEditor::TTool TPictureEditor::SelectedTool() const {
    if (c_.tbMove.Down()) return TTool::Move;
    if (c_.tbPaint.Down()) return TTool::Paint;
    if (c_.tbLine.Down()) return TTool::Line;
    if (c_.tbSquare.Down()) return TTool::Square;
    if (c_.tbText.Down()) return TTool::Text;
    if (c_.tbEllipse.Down()) return TTool::Ellipse;
    return TTool::None;
}

void TPictureEditor::SelectTool(TToolButton& button, TCursor cursor) {
    button.SetDown(true);
    c_.screenShot.SetCursor(cursor);
}

void TPictureEditor::tbMoveClick() {
    if (TextBox && TextBox->Visible()) CommitText();
    SelectTool(c_.tbMove, crHandPoint);
}
void TPictureEditor::tbPaintClick() { SelectTool(c_.tbPaint, crCross); }
void TPictureEditor::tbLineClick() { SelectTool(c_.tbLine, crCross); }
void TPictureEditor::tbEllipseClick() { SelectTool(c_.tbEllipse, crCross); }
void TPictureEditor::tbSquareClick() { SelectTool(c_.tbSquare, crCross); }
void TPictureEditor::tbTextClick() { SelectTool(c_.tbText, crIBeam); }

void TPictureEditor::PictureChanged(const RECT& r) {
    RECT shown = r;
    ::InvalidateRect(c_.screenShot.Handle(), &shown, FALSE);
}

void TPictureEditor::ApplyPenColor() {
    TCanvas& c = PictureCanvas();
    c.Pen.SetColor(c_.penColor.BrushColor());
    c.Font.SetColor(c_.penColor.BrushColor());
}

void TPictureEditor::ScreenShotMouseDown(TMouseButton, TShiftState, int X, int Y) {
    const TTool tool = dragTool_ = SelectedTool();
    switch (tool) {
        case TTool::Move:
            Dragging = true;
            AnchorX = X;
            AnchorY = Y;
            break;
        case TTool::Paint:
            PushHistory();
            Dragging = true;
            ApplyPenColor();
            PictureCanvas().SetPixels(X, Y, c_.penColor.BrushColor());
            AnchorX = X;
            AnchorY = Y;
            PictureChanged(RECT{X, Y, X + 1, Y + 1});
            break;
        case TTool::Line:
        case TTool::Square:
        case TTool::Ellipse:
            PushHistory();
            Dragging = true;
            AnchorX = X;
            AnchorY = Y;
            SaveUnder(X, Y, X, Y);
            break;
        case TTool::Text:
            AnchorX = X;
            AnchorY = Y;
            break;
        case TTool::None:
            break;
    }
}

void TPictureEditor::ScreenShotMouseMove(TShiftState, int X, int Y) {
    if (!Dragging) return;
    TCanvas& c = PictureCanvas();
    switch (dragTool_) {
        case TTool::Move: {
            // Each axis on its own: a step past a bound leaves that axis where
            // it is, never pulled to the bound.
            const int newLeft = c_.screenShot.Left() + (X - AnchorX);
            if (newLeft <= 0 && newLeft + Picture().Width() >= c_.scrollBox.ClientWidth())
                c_.screenShot.SetLeft(newLeft);
            const int newTop = c_.screenShot.Top() + (Y - AnchorY);
            if (newTop <= 0 && newTop + Picture().Height() >= c_.scrollBox.ClientHeight())
                c_.screenShot.SetTop(newTop);
            break;
        }
        case TTool::Paint: {
            ApplyPenColor();
            c.MoveTo(X, Y);
            c.LineTo(AnchorX, AnchorY);
            RECT r = NormalizedRect(X, Y, AnchorX, AnchorY);
            ::InflateRect(&r, 1, 1);
            PictureChanged(r);
            AnchorX = X;
            AnchorY = Y;
            break;
        }
        case TTool::Line:
        case TTool::Square:
        case TTool::Ellipse: {
            const TTool tool = dragTool_;
            const RECT before = SaveUnderRect;
            RestoreUnder();
            SaveUnder(AnchorX, AnchorY, X, Y);
            ApplyPenColor();
            if (tool == TTool::Line) {
                c.MoveTo(AnchorX, AnchorY);
                c.LineTo(X, Y);
            } else {
                c.Brush.SetStyle(bsClear);
                if (tool == TTool::Square)
                    c.Rectangle(AnchorX, AnchorY, X, Y);
                else
                    c.Ellipse(AnchorX, AnchorY, X, Y);
            }
            RECT changed;
            ::UnionRect(&changed, &before, &SaveUnderRect);
            PictureChanged(changed);
            break;
        }
        case TTool::Text:
        case TTool::None:
            break;
    }
}

void TPictureEditor::ScreenShotMouseUp(TMouseButton, TShiftState, int, int) {
    Dragging = false;
    if (SelectedTool() == TTool::Text) OpenTextBox();
}

void TPictureEditor::SaveUnder(int x1, int y1, int x2, int y2) {
    SaveUnderBitmap.reset();
    SaveUnderRect = NormalizedRect(x1, y1, x2, y2);
    ::InflateRect(&SaveUnderRect, 2, 2);
    TBitmap& picture = Picture();
    auto saved = std::make_unique<TBitmap>(RectWidth(SaveUnderRect), RectHeight(SaveUnderRect),
                                           picture.PixelFormat());
    // With the picture's own colour table, so that the pixels come back
    // exactly as they were.
    if (BitsPerPixel(picture.PixelFormat()) <= 8) {
        RGBQUAD colors[256];
        TCanvas::Lease from(picture.Canvas(), true);
        TCanvas::Lease to(saved->Canvas());
        if (UINT n = ::GetDIBColorTable(from.get(), 0, 256, colors))
            ::SetDIBColorTable(to.get(), 0, n, colors);
    }
    saved->Canvas().CopyRect(RECT{0, 0, saved->Width(), saved->Height()}, picture.Canvas(),
                             SaveUnderRect);
    SaveUnderBitmap = std::move(saved);
}

void TPictureEditor::RestoreUnder() {
    if (!SaveUnderBitmap) return;
    PictureCanvas().CopyRect(SaveUnderRect, SaveUnderBitmap->Canvas(),
                             RECT{0, 0, SaveUnderBitmap->Width(), SaveUnderBitmap->Height()});
}

// ---- text ----

void TPictureEditor::OpenTextBox() {
    if (TextBox) {
        // Whatever was typed and not committed goes with it.
        c_.scrollBox.Remove(*TextBox);
        TextBox = nullptr;
    }
    TCanvas& c = PictureCanvas();
    const int left = c_.screenShot.Left() + AnchorX - 2, top = c_.screenShot.Top() + AnchorY - 2;
    const TControlLayout layout{ckEdit, "TextBox", "ScrollBox", 0, 0, 10, 10, "", -1, loNoBorder};
    TextBox = &c_.scrollBox.Add<TTextBox>(layout);
    // Flat: a plain line border.
    ::SetWindowLongA(TextBox->Handle(), GWL_STYLE, ::GetWindowLongA(TextBox->Handle(), GWL_STYLE) | WS_BORDER);
    TextBox->Font().Assign(c.Font);
    const int border = 2 * ::GetSystemMetrics(SM_CXBORDER);
    TextBox->SetBounds(left, top, c.TextWidth("MM") + border, c.TextHeight("Mg") + 2 + border);
    ::SetWindowPos(TextBox->Handle(), HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    TextBox->OnKeyDown = [this](TControl*, WORD& key, TShiftState) { TextBoxKeyDown(key); };
    TextBox->OnExit = [this](TControl*) { TextBoxExit(); };
    TextBox->SetFocus();
}

void TPictureEditor::TextBoxKeyDown(WORD& Key) {
    if (!TextBox) return;
    if (Key == VK_RETURN) {
        CommitText();
        return;
    }
    const int frame = TextBox->Width() - TextBox->ClientWidth();
    TextBox->SetWidth(PictureCanvas().TextWidth(TextBox->Text() + "MM") + frame);
}

void TPictureEditor::TextBoxExit() { CommitText(); }

void TPictureEditor::CancelText() {
    if (!TextBox || !TextBox->Visible()) return;
    const bool hadFocus = TextBox->Focused();
    // Hidden first, so that losing the focus commits nothing.
    TextBox->Hide();
    if (hadFocus) ::SetFocus(c_.form.Handle());
}

void TPictureEditor::CommitText() {
    if (!TextBox || !TextBox->Visible()) return;
    PushHistory();
    ApplyPenColor();
    TCanvas& c = PictureCanvas();
    c.Brush.SetStyle(bsClear);
    const std::string text = TextBox->Text();
    c.TextOut(AnchorX, AnchorY, text);
    const SIZE size = c.TextExtent(text);
    PictureChanged(RECT{AnchorX, AnchorY, AnchorX + size.cx + 1, AnchorY + size.cy + 1});
    const bool hadFocus = TextBox->Focused();
    TextBox->Hide();
    // Keys go on to the form, not to a hidden box.
    if (hadFocus) ::SetFocus(c_.form.Handle());
}

// ---- pen and font ----

void TPictureEditor::PenColorMouseUp() {
    c_.colorDialog.Color = c_.penColor.BrushColor();
    if (c_.colorDialog.Execute()) c_.penColor.SetBrushColor(c_.colorDialog.Color);
}

void TPictureEditor::tbTextMouseDown() {
    c_.fontClickTimer.SetEnabled(true);
    FontButtonReleased = false;
}

void TPictureEditor::tbTextMouseUp() { FontButtonReleased = true; }

void TPictureEditor::FontClickTimerTimer() {
    c_.fontClickTimer.SetEnabled(false);
    if (FontButtonReleased) return;
    PopupAt(c_.fontClickPopup, c_.tbText);
}

void TPictureEditor::PopupAt(TPopupMenu& menu, TToolButton& button) {
    POINT pt{button.Left(), button.Top()};
    ::ClientToScreen(c_.toolBar.Handle(), &pt);
    menu.Popup(pt.x + button.Width(), pt.y);
}

void TPictureEditor::FontSettings1Click() {
    c_.fontDialog.Font.Assign(PictureCanvas().Font);
    if (c_.fontDialog.Execute()) PictureCanvas().Font.Assign(c_.fontDialog.Font);
}

// ---- colour depth ----

void TPictureEditor::tbSettingsClick() { PopupAt(c_.imageInfoMenu, c_.tbSettings); }

void TPictureEditor::SetDepth(TPixelFormat format) {
    PushHistory();
    Picture().SetPixelFormat(format);
    c_.screenShot.Invalidate();
}

// ---- undo history ----

void TPictureEditor::FormKeyDown(WORD& Key, TShiftState Shift) {
    if (Key == VK_ESCAPE) {
        // Esc drops a half-typed text; it ends the wizard as Cancel does
        // only while that loses no edit.
        if (TextBox && TextBox->Visible()) {
            CancelText();
            Key = 0;
        } else if (!History.empty() || History.EditsBeyondHistory()) {
            Key = 0;
        }
        return;
    }
    // Not consumed: the focused control gets the key too.
    if (Key == 'Z' && (Shift & ssCtrl)) StepBack();
}

void TPictureEditor::Label6Click() { StepBack(); }

void TPictureEditor::PushHistory() {
    Changed();
    History.PushHistory(Picture());
}

void TPictureEditor::StepBack() {
    if (!History.StepBack(Picture())) return;
    Changed();
    c_.screenShot.Invalidate();
}
