#include "ui/Graphics.h"

#include "ui/Exception.h"

#include <map>

namespace ui {

COLORREF ColorToRGB(TColor color) {
    if (color & clSystemColor) return ::GetSysColor(static_cast<int>(color & 0xFF));
    if (color == clDefault || color == clNone) return CLR_INVALID;
    return color & 0x00FFFFFF;
}

HBRUSH ColorBrush(TColor color) {
    if (color & clSystemColor) return ::GetSysColorBrush(static_cast<int>(color & 0xFF));
    static std::map<COLORREF, GdiBrush> brushes;
    COLORREF rgb = color & 0x00FFFFFF;
    GdiBrush& b = brushes[rgb];
    if (!b) {
        b.reset(::CreateSolidBrush(rgb));
        if (!b) throw Exception("Out of system resources");
    }
    return b.get();
}

int ScreenPixelsPerInch() {
    WindowDc dc(nullptr);
    int dpi = dc ? ::GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

void RequireGdiObject(HGDIOBJ made) {
    if (!made) throw Exception("Out of system resources");
}

void TFont::Assign(const TFont& source) {
    if (&source == this) return;
    name_ = source.name_;
    height_ = source.height_;
    style_ = source.style_;
    color_ = source.color_;
    charset_ = source.charset_;
    Changed();
}

int TFont::Size() const { return -::MulDiv(height_, 72, ScreenPixelsPerInch()); }
void TFont::SetSize(int points) { SetHeight(-::MulDiv(points, ScreenPixelsPerInch(), 72)); }

void TFont::SetLogFont(const LOGFONTA& lf) {
    name_ = lf.lfFaceName;
    height_ = lf.lfHeight;
    style_ = (lf.lfWeight >= FW_BOLD ? fsBold : 0u) | (lf.lfItalic ? fsItalic : 0u) |
             (lf.lfUnderline ? fsUnderline : 0u) | (lf.lfStrikeOut ? fsStrikeOut : 0u);
    charset_ = lf.lfCharSet;
    Changed();
}

LOGFONTA TFont::LogFont() const {
    LOGFONTA lf = {};
    lf.lfHeight = height_;
    lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style_ & fsItalic) ? TRUE : FALSE;
    lf.lfUnderline = (style_ & fsUnderline) ? TRUE : FALSE;
    lf.lfStrikeOut = (style_ & fsStrikeOut) ? TRUE : FALSE;
    lf.lfCharSet = charset_;
    lstrcpynA(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
    return lf;
}

HFONT TFont::Handle() const {
    return Cached([this] {
        LOGFONTA lf = LogFont();
        return ::CreateFontIndirectA(&lf);
    });
}

bool TFont::operator==(const TFont& o) const {
    return name_ == o.name_ && height_ == o.height_ && style_ == o.style_ &&
           color_ == o.color_ && charset_ == o.charset_;
}

// ---- pen and brush ----

void TPen::Assign(const TPen& source) {
    if (&source == this) return;
    color_ = source.color_;
    width_ = source.width_;
    style_ = source.style_;
    mode_ = source.mode_;
    Changed();
}

HPEN TPen::Handle() const {
    static const int styles[] = {PS_SOLID,      PS_DASH, PS_DOT,        PS_DASHDOT,
                                 PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    return Cached([this] { return ::CreatePen(styles[style_], width_, ColorToRGB(color_)); });
}

void TBrush::Assign(const TBrush& source) {
    if (&source == this) return;
    color_ = source.color_;
    style_ = source.style_;
    Changed();
}

HBRUSH TBrush::Handle() const {
    if (style_ == bsClear) return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    return Cached([this] { return ::CreateSolidBrush(ColorToRGB(color_)); });
}

}  // namespace ui
