// The platform's standard controls (buttons, check boxes, edits, static
// texts) and the picture control.
#pragma once

#include "ui/Controls.h"

namespace ui {

class TPicture {
public:
    TBitmap& Bitmap() { return bitmap_; }

private:
    TBitmap bitmap_;
};

// Shows a picture, stretched to its size or at its top-left.
class TImage : public TCustomControl {
public:
    TImage(TWinControl& parent, const TControlLayout& layout);
    TPicture Picture;
    bool Stretch = false;
    bool AutoSize = false;
    TCanvas& Canvas() { return Picture.Bitmap().Canvas(); }
    // Shows the picture's current contents (and fits to it with AutoSize).
    void Invalidate();

protected:
    void Paint(HDC dc) override;
};

class TButton : public TControl {
public:
    TButton(TWinControl& parent, const TControlLayout& layout);
    int ModalResult = mrNone;
    bool Default() const { return default_; }
    bool Cancel() const { return cancel_; }
    void Click() override;
    bool Reflected(TMessage& msg) override;

protected:
    TButton(TWinControl& parent, const TControlLayout& layout, DWORD style);

private:
    friend class TForm;
    bool default_ = false;
    bool cancel_ = false;
};

class TCheckBox : public TButton {
public:
    TCheckBox(TWinControl& parent, const TControlLayout& layout);
    bool Checked() const;
    void SetChecked(bool checked);
    void Click() override;
    bool Reflected(TMessage& msg) override;
};

// The platform's edit control.
class TCustomEdit : public TWinControl {
public:
    bool ReadOnly() const;
    void SetReadOnly(bool value);
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int value);
    bool AutoSelect = true;
    void SelectAll();
    int SelStart() const;
    int SelLength() const;
    void SetSel(int start, int length);
    bool Modified() const;
    TNotifyEvent OnChange;
    bool Reflected(TMessage& msg) override;

protected:
    TCustomEdit(TWinControl& parent, const TControlLayout& layout, DWORD extraStyle = 0);
    bool WndProc(TMessage& msg) override;
    void DoEnter() override;

private:
    int maxLength_ = 0;
};

class TEdit : public TCustomEdit {
public:
    TEdit(TWinControl& parent, const TControlLayout& layout) : TCustomEdit(parent, layout) {}
};

// A static text on its parent's colour; fits its text unless given a size.
// Given a width but no height, it fits its text within that width, wrapping
// it at spaces where a wider font needs more room.
class TLabel : public TControl {
public:
    TLabel(TWinControl& parent, const TControlLayout& layout);
    void SetAutoSize(bool value);
    bool AutoSize() const { return autoSize_; }
    // Fits the control to its caption now.
    void AdjustBounds();
    bool Reflected(TMessage& msg) override;

protected:
    void FontChanged() override;
    bool WndProc(TMessage& msg) override;

private:
    bool autoSize_ = true;
    int wrapWidth_ = 0;  // 96-DPI pixels; 0: one line as long as the text
};

// Layout kinds of the controls above.
constexpr TControlKind ckImage = &CreateControl<TImage>;
constexpr TControlKind ckButton = &CreateControl<TButton>;
constexpr TControlKind ckCheckBox = &CreateControl<TCheckBox>;
constexpr TControlKind ckEdit = &CreateControl<TEdit>;
constexpr TControlKind ckLabel = &CreateControl<TLabel>;

}  // namespace ui
