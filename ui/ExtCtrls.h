// Decorative controls: the bevel (a sunken or raised frame or line).
#pragma once

#include "ui/Controls.h"

namespace ui {

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TControl {
public:
    TBevel(TForm& parent, int left, int top, int width, int height,
           TBevelShape shape = bsBox, TBevelStyle style = bsLowered);
    TBevelShape Shape;
    TBevelStyle Style;
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

private:
    void Paint(HDC dc);
};

}  // namespace ui
