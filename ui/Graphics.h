// Colours and the drawing tools: pens, brushes and fonts described in
// values, with their GDI objects made on demand.
#pragma once

#include "ui/Handles.h"

#include <functional>
#include <string>

namespace ui {

// A colour: an RGB value, or a system colour (the top bit set, the low byte
// the GetSysColor index) that follows the user's scheme.
using TColor = COLORREF;
constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clMaroon = RGB(128, 0, 0);
constexpr TColor clGreen = RGB(0, 128, 0);
constexpr TColor clOlive = RGB(128, 128, 0);
constexpr TColor clNavy = RGB(0, 0, 128);
constexpr TColor clPurple = RGB(128, 0, 128);
constexpr TColor clTeal = RGB(0, 128, 128);
constexpr TColor clGray = RGB(128, 128, 128);
constexpr TColor clSilver = RGB(192, 192, 192);
constexpr TColor clRed = RGB(255, 0, 0);
constexpr TColor clLime = RGB(0, 255, 0);
constexpr TColor clYellow = RGB(255, 255, 0);
constexpr TColor clBlue = RGB(0, 0, 255);
constexpr TColor clFuchsia = RGB(255, 0, 255);
constexpr TColor clAqua = RGB(0, 255, 255);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;
constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
constexpr TColor clHotLight = clSystemColor | COLOR_HOTLIGHT;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
// "Not set": take the parent's.
constexpr TColor clDefault = 0x20000000u;
constexpr TColor clNone = 0x1FFFFFFFu;

// The RGB value a colour stands for now.
COLORREF ColorToRGB(TColor color);
// A brush of the colour, cached for the process (system colours use the
// system's brushes); never deleted by the caller.
HBRUSH ColorBrush(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// Raises the program's error for a GDI object that could not be made.
void RequireGdiObject(HGDIOBJ made);

// A pen, brush or font: a description with its GDI object made on demand
// and dropped at every change.
template <class H>
class TGraphicsObject {
public:
    // Called after every change.
    std::function<void()> OnChange;

protected:
    TGraphicsObject() = default;
    ~TGraphicsObject() = default;
    template <class T>
    void Set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    void Changed() {
        handle_.reset();
        if (OnChange) OnChange();
    }
    // The GDI object, made by make() when there is none.
    template <class F>
    H Cached(F make) const {
        if (!handle_) {
            const H made = make();
            RequireGdiObject(made);
            handle_.reset(made);
        }
        return handle_.get();
    }
    mutable GdiHandle<H> handle_;
};

// A logical font description with its GDI font made on demand. Height is in
// pixels (negative: character height, as LOGFONT); Size is in points.
class TFont : public TGraphicsObject<HFONT> {
public:
    TFont() = default;
    TFont(const char* name, int height, TFontStyles style = 0) : name_(name), height_(height),
                                                                 style_(style) {}
    TFont(const TFont& o) { Assign(o); }
    TFont& operator=(const TFont& o) { Assign(o); return *this; }
    void Assign(const TFont& source);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { Set(name_, name); }
    int Height() const { return height_; }
    void SetHeight(int height) { Set(height_, height); }
    // Points at the screen's logical DPI.
    int Size() const;
    void SetSize(int points);
    TColor Color() const { return color_; }
    void SetColor(TColor color) { Set(color_, color); }
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles style) { Set(style_, style); }
    BYTE Charset() const { return charset_; }
    void SetCharset(BYTE charset) { Set(charset_, charset); }

    // Takes name, height, style and charset from a LOGFONT; the colour stays.
    void SetLogFont(const LOGFONTA& lf);
    LOGFONTA LogFont() const;
    // The GDI font, valid until the next change; the font owns it.
    HFONT Handle() const;

    bool operator==(const TFont& o) const;

private:
    std::string name_ = "MS Sans Serif";
    int height_ = -11;
    TFontStyles style_ = 0;
    TColor color_ = clWindowText;
    BYTE charset_ = DEFAULT_CHARSET;
};

// The screen's logical pixels per inch (96 unless the user scaled).
int ScreenPixelsPerInch();

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
// How the pen combines with the pixels under it (the raster operations).
enum TPenMode {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

class TPen : public TGraphicsObject<HPEN> {
public:
    TPen() = default;
    TPen(const TPen& o) { Assign(o); }
    TPen& operator=(const TPen& o) { Assign(o); return *this; }
    void Assign(const TPen& source);

    TColor Color() const { return color_; }
    void SetColor(TColor color) { Set(color_, color); }
    int Width() const { return width_; }
    void SetWidth(int width) { Set(width_, width); }
    TPenStyle Style() const { return style_; }
    void SetStyle(TPenStyle style) { Set(style_, style); }
    TPenMode Mode() const { return mode_; }
    void SetMode(TPenMode mode) { Set(mode_, mode); }
    // The GDI pen, valid until the next change; the pen owns it.
    HPEN Handle() const;

private:
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = psSolid;
    TPenMode mode_ = pmCopy;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TGraphicsObject<HBRUSH> {
public:
    TBrush() = default;
    TBrush(const TBrush& o) { Assign(o); }
    TBrush& operator=(const TBrush& o) { Assign(o); return *this; }
    void Assign(const TBrush& source);

    TColor Color() const { return color_; }
    void SetColor(TColor color) { Set(color_, color); }
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle style) { Set(style_, style); }
    // The GDI brush (the stock hollow brush when clear), valid until the
    // next change; the brush owns it.
    HBRUSH Handle() const;

private:
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
};

}  // namespace ui
