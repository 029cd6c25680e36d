// Child controls: thin wrappers of native controls, and the image window.
#pragma once

#include "ui/Graphics.h"
#include "ui/Handles.h"

#include <functional>
#include <string>

namespace ui {

class TForm;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Modifier keys and buttons held, as bits.
enum : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;

class TControl;
using TNotifyEvent = std::function<void(TControl* Sender)>;
using TMouseEvent =
    std::function<void(TControl* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TControl* Sender, TShiftState Shift, int X, int Y)>;

class TControl {
public:
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;
    virtual ~TControl();

    HWND Handle() const { return wnd_; }
    TAlign Align = alNone;
    void SetBounds(int left, int top, int width, int height);
    RECT BoundsRect() const;
    int Width() const;
    int Height() const;
    void SetVisible(bool visible);
    void SetCaption(const std::string& text);
    std::string Caption() const;
    void SetCursor(int cursor) { cursor_ = cursor; }

    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    // Messages for this control, from the parent's or its own procedure;
    // true when handled (Result set).
    virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

protected:
    TControl(TForm& parent, const char* cls, const char* text, DWORD style, DWORD exStyle,
             int left, int top, int width, int height);
    // Own procedure for subclassed and custom windows.
    void Subclass();
    HWND wnd_ = nullptr;
    TForm& parent_;
    int cursor_ = 0;

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    WNDPROC oldProc_ = nullptr;
};

class TPicture {
public:
    TBitmap& Bitmap() { return bitmap_; }

private:
    TBitmap bitmap_;
};

// A window of our own window class that paints itself; derived controls
// draw in Paint.
class TCustomControl : public TControl {
public:
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

protected:
    // Registers the window class on first use.
    TCustomControl(TForm& parent, const char* className, int left, int top, int width,
                   int height);
    virtual void Paint(HDC dc) = 0;
};

// A window that shows a picture, stretched to its size or at its top-left.
class TImage : public TCustomControl {
public:
    TImage(TForm& parent, int left, int top, int width, int height);
    TPicture Picture;
    bool Stretch = false;
    bool AutoSize = false;
    // The picture's canvas, as for drawing into the image.
    TCanvas& Canvas() { return Picture.Bitmap().Canvas(); }
    // Shows the picture's current contents.
    void Invalidate();

protected:
    void Paint(HDC dc) override;
};

class TButton : public TControl {
public:
    TButton(TForm& parent, const char* caption, int left, int top, int width, int height,
            bool isDefault = false);
    int ModalResult = 0;
    void Click();
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

class TLabel : public TControl {
public:
    TLabel(TForm& parent, const char* caption, int left, int top);
    COLORREF FontColor = CLR_INVALID;
    // Underlines the caption, as for a link.
    void SetUnderline();
    // Fits the control to its caption.
    void AutoSize();
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

private:
    GdiObject underlineFont_;
};

// Mouse event arguments of a mouse message.
TShiftState ShiftFromKeys(WPARAM keys);

}  // namespace ui
