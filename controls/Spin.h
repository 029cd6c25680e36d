// The spin edit: a numeric edit field with a pair of arrow buttons at its
// right edge, the arrow pair on its own, and the speed button that repeats
// its click while it is held down.
#pragma once

#include "ui/StdCtrls.h"
#include "ui/Timers.h"

#include <functional>
#include <memory>

// Every refusal sounds through this; tests count the beeps.
extern BOOL(WINAPI* SpinMessageBeep)(UINT type);

enum TRepeatFlag : unsigned {
    rfFocusFrame = 1,  // draw a focus frame
    rfAutoRepeat = 2,  // holding the button repeats its click
};

// A push button that we paint: a glyph whose bottom-left colour is
// transparent, drawn pressed while the left button holds it.
class TTimerSpeedButton : public ui::TCustomControl {
public:
    TTimerSpeedButton(ui::TWinControl& parent, const ui::TControlLayout& layout);
    ~TTimerSpeedButton() override;

    // Images side by side: up, disabled, pressed.
    ui::TBitmap Glyph;
    int NumGlyphs = 1;
    unsigned RepeatFlags = 0;
    // Made by the first press; null before.
    ui::TTimer* RepeatTimer() const { return repeatTimer_.get(); }
    bool Down() const { return down_; }

protected:
    bool WndProc(ui::TMessage& msg) override;
    void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
    void MouseMove(ui::TShiftState shift, int x, int y) override;
    void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
    void Paint(HDC dc) override;

private:
    void RepeatTick();
    void DrawGlyph(HDC dc, int x, int y);
    void SetDown(bool value);
    bool EnabledOnScreen() const;

    std::unique_ptr<ui::TTimer> repeatTimer_;
    bool tracking_ = false;  // the left button went down here and is held
    bool down_ = false;      // drawn pressed
};

// An up and a down arrow button sharing one pixel row.
class TSpinButton : public ui::TWinControl {
public:
    TSpinButton(ui::TWinControl& parent, const ui::TControlLayout& layout);

    TTimerSpeedButton& UpButton() const { return *up_; }
    TTimerSpeedButton& DownButton() const { return *down_; }
    TTimerSpeedButton& FocusedButton() const { return *focused_; }

    // Receives the focus when an arrow is pressed; forgotten when its window goes.
    ui::TWinControl* FocusControl() const;
    void SetFocusControl(ui::TWinControl* control);

    // Null loads the arrow bitmap of the program's resources.
    ui::TBitmap& UpGlyph() const { return up_->Glyph; }
    void SetUpGlyph(const ui::TBitmap* bitmap);
    ui::TBitmap& DownGlyph() const { return down_->Glyph; }
    void SetDownGlyph(const ui::TBitmap* bitmap);
    int UpNumGlyphs() const { return up_->NumGlyphs; }
    void SetUpNumGlyphs(int n);
    int DownNumGlyphs() const { return down_->NumGlyphs; }
    void SetDownNumGlyphs(int n);

    ui::TNotifyEvent OnUpClick;
    ui::TNotifyEvent OnDownClick;

    // Widens (w, h) to the least the pair needs and places the buttons in it.
    void FitArrowButtons(int& w, int& h);
    void MoveFocusTo(TTimerSpeedButton& button);

protected:
    bool WndProc(ui::TMessage& msg) override;
    void KeyDown(WORD& key, ui::TShiftState shift) override;

private:
    TTimerSpeedButton& MakeArrowButton();
    void ArrowMouseDown(ui::TControl* sender, ui::TMouseButton button);
    void ArrowClicked(ui::TControl* sender);
    void SetGlyph(TTimerSpeedButton& button, const ui::TBitmap* bitmap, const char* resource);
    void Repaint();

    TTimerSpeedButton* up_ = nullptr;
    TTimerSpeedButton* down_ = nullptr;
    TTimerSpeedButton* focused_ = nullptr;
    HWND focusControl_ = nullptr;
};

// A one-line edit that holds a whole number, with the arrow pair inside its
// right edge. With MinValue equal to MaxValue there are no bounds.
class TSpinEdit : public ui::TCustomEdit {
public:
    TSpinEdit(ui::TWinControl& parent, const ui::TControlLayout& layout);
    ~TSpinEdit() override;

    int MinValue = 0;
    int MaxValue = 0;
    int Increment = 1;
    // The text may be typed, pasted and cut.
    bool EditorEnabled = true;

    // The text as a whole number; MinValue when it is none.
    int Value() const;
    // Shows the value, held within the bounds.
    void SetValue(int value);
    TSpinButton& Button() const { return *button_; }
    // The least height that shows the font's text.
    int MinimumHeight();

    virtual bool AcceptsChar(char c);
    virtual void StepUp();
    virtual void StepDown();

protected:
    bool WndProc(ui::TMessage& msg) override;
    void KeyDown(WORD& key, ui::TShiftState shift) override;
    void KeyPress(char& key) override;
    void DoExit() override;

private:
    int ClampValue(int value) const;
    void Resized();
    void LayoutEditArea();

    TSpinButton* button_ = nullptr;
};

constexpr ui::TControlKind ckSpinEdit = &ui::CreateControl<TSpinEdit>;
