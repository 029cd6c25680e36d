// Controls and containers: one object per window, created from a form's
// layout table or by code, owned by the container it sits on.
#pragma once

#include "ui/Bitmap.h"
#include "ui/Canvas.h"
#include "ui/Graphics.h"
#include "ui/Handles.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class TControl;
class TWinControl;
class TForm;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Modifier keys and buttons held, as bits.
enum : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;

// Cursors, by their library numbers.
enum TCursor : int { crDefault = 0, crArrow = -2, crCross = -3, crIBeam = -4, crHandPoint = -21 };
HCURSOR CursorHandle(TCursor cursor);

// Modal results.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

using TNotifyEvent = std::function<void(TControl* Sender)>;
using TMouseEvent =
    std::function<void(TControl* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TControl* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TControl* Sender, WORD& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TControl* Sender, char& Key)>;

// Modifier keys held now, and those of a mouse message's key flags.
TShiftState KeyboardShiftState();
TShiftState ShiftFromKeys(WPARAM keys);

// ---- layout tables ----

using TControlKind = TControl* (*)(TWinControl& parent, const struct TControlLayout& layout);

// The few properties a layout line can set beside position, size and text.
enum TLayoutOption : unsigned {
    loDefault = 1u << 0,      // the default button (Enter)
    loCancel = 1u << 1,       // the cancel button (Esc)
    loBold = 1u << 2,         // the parent's font, bold
    loWindowColor = 1u << 3,  // clWindow background
    loInfoColor = 1u << 4,    // clInfoBk background
    loHidden = 1u << 5,
    loDisabled = 1u << 6,
    loChecked = 1u << 7,
    loReadOnly = 1u << 8,
    loLink = 1u << 9,  // blue, underlined, hand cursor
    loAlignTop = 1u << 10,
    loAlignBottom = 1u << 11,
    loAlignLeft = 1u << 12,
    loAlignRight = 1u << 13,
    loAlignClient = 1u << 14,
    loNoBorder = 1u << 15,
    loGrouped = 1u << 16,  // a check tool button of a group: one down at a time
    loAfterFlag = 1u << 17,  // see loAfter
};

// Places the control gap pixels right of the previous control of its
// container when that is further right than the line's own left: a font
// wider than the table assumed pushes the rest of the line along instead
// of drawing over it. The gap rides in the top byte of the options.
constexpr unsigned loAfter(int gap) {
    return loAfterFlag | (static_cast<unsigned>(gap) & 0xFFu) << 24;
}

// One control of a form, in 96-DPI pixels. A width or height of 0 lets
// the control size itself (labels fit their text).
struct TControlLayout {
    TControlKind Kind;
    const char* Name;
    const char* Parent;  // nullptr: the form
    int Left, Top, Width, Height;
    const char* Text = "";
    int TabOrder = -1;  // -1: not a tab stop
    unsigned Options = 0;
    int ModalResult = mrNone;
};

template <class T>
TControl* CreateControl(TWinControl& parent, const TControlLayout& layout) {
    return new T(parent, layout);
}

// What a control's window is made of; derived classes add their styles
// before the window exists.
struct TCreateParams {
    const char* ClassName;
    DWORD Style = 0;
    DWORD ExStyle = 0;
};

// ---- TControl ----

class TControl {
public:
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;
    virtual ~TControl();

    HWND Handle() const { return wnd_; }
    const std::string& Name() const { return name_; }
    TWinControl* Parent() const { return parent_; }
    // The form the control sits on; a form is its own.
    TForm* Form() const;

    // Position and size in the parent's client pixels (physical).
    void SetBounds(int left, int top, int width, int height);
    virtual RECT BoundsRect() const;
    int Left() const { return BoundsRect().left; }
    int Top() const { return BoundsRect().top; }
    int Width() const;
    int Height() const;
    void SetWidth(int w) { RECT r = BoundsRect(); SetBounds(r.left, r.top, w, r.bottom - r.top); }
    void SetHeight(int h) { RECT r = BoundsRect(); SetBounds(r.left, r.top, r.right - r.left, h); }
    void SetLeft(int x) { RECT r = BoundsRect(); SetBounds(x, r.top, r.right - r.left, r.bottom - r.top); }
    void SetTop(int y) { RECT r = BoundsRect(); SetBounds(r.left, y, r.right - r.left, r.bottom - r.top); }
    int ClientWidth() const;
    int ClientHeight() const;
    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);

    // Virtual for controls without a window of their own.
    virtual bool Visible() const;
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    virtual bool Enabled() const;
    virtual void SetEnabled(bool enabled);
    virtual std::string Caption() const;
    virtual void SetCaption(const std::string& text);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    // The font; a change here stops following the parent's.
    TFont& Font() { return font_; }
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool value);
    // The background colour; clDefault follows the parent.
    TColor Color() const;
    void SetColor(TColor color);
    bool ParentColor() const { return color_ == clDefault; }

    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor cursor) { cursor_ = cursor; }
    std::string Hint;

    int TabOrder() const { return tabOrder_; }
    bool TabStop() const;
    void SetTabStop(bool value);
    bool Focused() const;
    bool CanFocus() const;
    void SetFocus();

    // Pixels at 96 DPI in the form's pixels.
    int ScaleValue(int pixels) const;
    void Invalidate();
    void Update();

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;

    // The object of one of our windows, or null.
    static TControl* FromHandle(HWND wnd);

    // Simulates the user's click, for buttons and tests.
    virtual void Click();
    // Notifications the parent received about this control: WM_COMMAND,
    // WM_NOTIFY, WM_CTLCOLOR*, WM_DRAWITEM, WM_HSCROLL, WM_VSCROLL. True
    // when handled, with Result set.
    virtual bool Reflected(TMessage& msg);

protected:
    // A form: no parent; the window comes from CreateWindow.
    TControl();
    // A child control from its layout line; the window is created here.
    TControl(TWinControl& parent, const TControlLayout& layout, const TCreateParams& params);
    // A child without a window of its own, which its parent draws and
    // hit-tests (a tool button).
    TControl(TWinControl& parent, const TControlLayout& layout);

    // The control's own messages; false passes them to the window's
    // default procedure.
    virtual bool WndProc(TMessage& msg);
    // Runs the window's default procedure now.
    LRESULT DefaultHandler(TMessage& msg);

    virtual void DoEnter();
    virtual void DoExit();
    virtual void KeyDown(WORD& key, TShiftState shift);
    virtual void KeyUp(WORD& key, TShiftState shift);
    virtual void KeyPress(char& key);
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    // Font or colour changed; the window is told by the default.
    virtual void FontChanged() {}
    // The form moved to another DPI and this control is placed anew; sizes
    // the control keeps itself (columns, buttons) follow here.
    virtual void DpiChanged(int /*oldPpi*/, int /*newPpi*/) {}
    // Captures the mouse while a button is held (controls we paint).
    bool CaptureMouse = false;

    // Makes the control's window.
    void CreateHandle(const TControlLayout& layout, const TCreateParams& params);
    // The procedure of our own classes, and our subclass of the platform's.
    static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR) noexcept;
    // Registers a window class of ours on first use.
    static const char* RegisterOwnClass(const char* name, UINT style = CS_DBLCLKS,
                                        HICON icon = nullptr);
    // No event runs once the control's windows are going.
    void MarkDying();
    // The control's windows are about to go, all of them still there; no
    // event runs any more.
    virtual void DestroyingWindows() noexcept {}
    void DestroyHandle();
    bool Dying() const { return dying_; }

    HWND wnd_ = nullptr;
    TWinControl* parent_ = nullptr;

private:
    friend class TWinControl;
    friend class TForm;
    void ApplyFont();
    void ParentFontChanged();
    LRESULT Dispatch(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    LRESULT CallDefault(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) const noexcept;
    void Unbind(HWND wnd) noexcept;

    std::string name_;
    // A platform control we subclass, rather than a window of our own class.
    bool subclassed_ = false;
    TFont font_;
    bool parentFont_ = true;
    bool settingFont_ = false;
    TColor color_ = clDefault;
    TCursor cursor_ = crDefault;
    TAlign align_ = alNone;
    int tabOrder_ = -1;
    bool dying_ = false;
    // A release counts only on the control that saw the press.
    bool mousePressed_ = false;
    // The line's left in 96-DPI pixels, and its gap after the previous
    // control (-1: placed where the line says).
    int layoutLeft_ = 0;
    int afterGap_ = -1;
    // Where the control is, in 96-DPI pixels: placed again from here when
    // the form's DPI changes. A width or height of 0 keeps the size.
    RECT layout96_{};
};

// ---- containers ----

class TWinControl : public TControl {
public:
    ~TWinControl() override;

    // Children in creation order.
    const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }
    // A control by name, this container and those inside it; null if none.
    TControl* FindControl(const std::string& name) const;
    // Creates a control on this container from a layout line.
    TControl& Add(const TControlLayout& layout);
    template <class T>
    T& Add(const TControlLayout& layout) {
        return static_cast<T&>(Adopt(std::unique_ptr<TControl>(new T(*this, layout))));
    }
    // Destroys a child made by code.
    void Remove(TControl& child);
    // Lays out aligned children in the client area.
    virtual void Realign();
    // Orders the children for Tab by their tab order.
    void ApplyTabOrder();
    // Moves the children placed after another along to their previous
    // sibling's right edge where it has grown past their own left.
    void PlaceAfterSiblings();

protected:
    using TControl::TControl;
    bool WndProc(TMessage& msg) override;
    // Fills the background with the control's colour.
    virtual void PaintBackground(HDC dc);
    // Children are destroyed (windows first) before the container's own
    // members go.
    void DestroyChildren();

private:
    friend class TControl;
    friend class TForm;
    TControl& Adopt(std::unique_ptr<TControl> child);
    void ChildFontChanged();
    std::vector<std::unique_ptr<TControl>> controls_;
};

// A window of our own class that paints itself; derived controls draw in
// Paint on a canvas over the paint DC.
class TCustomControl : public TWinControl {
protected:
    TCustomControl(TWinControl& parent, const TControlLayout& layout, const char* className,
                   DWORD style = 0, DWORD exStyle = 0);
    bool WndProc(TMessage& msg) override;
    virtual void Paint(HDC dc) = 0;
};

}  // namespace ui
