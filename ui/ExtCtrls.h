// Decorative controls: the bevel (a sunken or raised frame or line).
#pragma once

#include "ui/Controls.h"

namespace ui {

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TCustomControl {
public:
    TBevel(TForm& parent, int left, int top, int width, int height,
           TBevelShape shape = bsBox, TBevelStyle style = bsLowered);
    TBevelShape Shape;
    TBevelStyle Style;

protected:
    void Paint(HDC dc) override;
};

}  // namespace ui
