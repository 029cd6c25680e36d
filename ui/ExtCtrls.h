// Controls Windows has no class for: bevel, shape, panel, scroll box and
// notebook, painted here.
#pragma once

#include "ui/Controls.h"

namespace ui {

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TCustomControl {
public:
    TBevel(TWinControl& parent, const TControlLayout& layout);
    TBevelShape Shape = bsTopLine;
    TBevelStyle Style = bsLowered;

protected:
    void Paint(HDC dc) override;
};

enum TShapeType { stRectangle, stSquare, stEllipse };

// A filled shape with an outline, as a colour swatch.
class TShape : public TCustomControl {
public:
    TShape(TWinControl& parent, const TControlLayout& layout);
    TShapeType Shape = stRectangle;
    TColor BrushColor() const { return brush_; }
    void SetBrushColor(TColor color);
    TColor PenColor() const { return pen_; }
    void SetPenColor(TColor color);

protected:
    void Paint(HDC dc) override;

private:
    TColor brush_ = clWhite;
    TColor pen_ = clBlack;
};

enum TPanelBevel { bvNone, bvLowered, bvRaised };

// A container with a background colour, an optional bevel and a centred
// caption.
class TPanel : public TCustomControl {
public:
    TPanel(TWinControl& parent, const TControlLayout& layout);
    TPanelBevel BevelOuter = bvRaised;

protected:
    TPanel(TWinControl& parent, const TControlLayout& layout, const char* className, DWORD exStyle);
    void Paint(HDC dc) override;
};

// A container whose children may lie partly outside it, as a viewport.
class TScrollBox : public TPanel {
public:
    TScrollBox(TWinControl& parent, const TControlLayout& layout);
};

class TNotebook;

// One page of a notebook; only the active page is visible.
class TPage : public TPanel {
public:
    TPage(TWinControl& parent, const TControlLayout& layout);
};

// Pages on top of each other; the layout's pages are its children, named
// by their text.
class TNotebook : public TPanel {
public:
    TNotebook(TWinControl& parent, const TControlLayout& layout);
    int PageIndex() const { return pageIndex_; }
    // Shows the page and hides the others; OnPageChanged follows a change.
    void SetPageIndex(int index);
    int PageCount() const;
    TPage* Page(int index) const;
    std::string ActivePage() const;
    void SetActivePage(const std::string& name);
    TNotifyEvent OnPageChanged;
    void Realign() override;

private:
    int pageIndex_ = -1;
};

constexpr TControlKind ckBevel = &CreateControl<TBevel>;
constexpr TControlKind ckShape = &CreateControl<TShape>;
constexpr TControlKind ckPanel = &CreateControl<TPanel>;
constexpr TControlKind ckScrollBox = &CreateControl<TScrollBox>;
constexpr TControlKind ckNotebook = &CreateControl<TNotebook>;
constexpr TControlKind ckPage = &CreateControl<TPage>;

}  // namespace ui
