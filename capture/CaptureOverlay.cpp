#include "capture/CaptureOverlay.h"

#include "ui/Exception.h"

#include <algorithm>
#include <array>

using namespace ui;

namespace {

// Paints black, in a picture of the virtual screen, what no monitor shows:
// the screen's device context gives whatever lies there, which no user saw.
void BlackenUncovered(HDC picture, const RECT& desktop) {
    GdiRegion uncovered(
        ::CreateRectRgn(0, 0, desktop.right - desktop.left, desktop.bottom - desktop.top));
    if (!uncovered) RaiseLastOSError();
    for (RECT m : Screen.MonitorRects()) {
        ::OffsetRect(&m, -desktop.left, -desktop.top);
        GdiRegion shown(::CreateRectRgnIndirect(&m));
        if (!shown) RaiseLastOSError();
        ::CombineRgn(uncovered.get(), uncovered.get(), shown.get(), RGN_DIFF);
    }
    ::FillRgn(picture, uncovered.get(), static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

// The four edges of a rectangle, `w` wide at the sides and `h` high at the
// top and bottom, not overlapping (an inverted corner stays inverted); an
// edge that the others already cover comes out empty.
std::array<RECT, 4> Edges(const RECT& r, int w, int h) {
    const LONG top = std::min(r.top + h, r.bottom), bottom = std::max(r.bottom - h, top);
    const LONG left = std::min(r.left + w, r.right), right = std::max(r.right - w, left);
    return {{{r.left, r.top, r.right, top},
             {r.left, bottom, r.right, r.bottom},
             {r.left, top, left, bottom},
             {right, top, r.right, bottom}}};
}

// The hover frame's width in physical pixels.
constexpr int kFrameWidth = 3;

}  // namespace

TCaptureOverlay::TCaptureOverlay(TForm& window, TImage& image) : window_(window), Image(image) {}

void TCaptureOverlay::TakeScreenshot() {
    // A capture already up stays as it is: a second copy would contain it.
    if (window_.Visible()) return;
    FScreenBitmap.reset();
    // Every monitor at once, one screen pixel to one picture pixel: the
    // window's client coordinates are the picture's.
    const RECT desktop = Screen.DesktopRect();
    const int w = desktop.right - desktop.left, h = desktop.bottom - desktop.top;
    FScreenBitmap = std::make_unique<TBitmap>(w, h);
    {
        WindowDc screen(nullptr);
        if (!screen) RaiseLastOSError();
        {
            TCanvas::Lease dest(FScreenBitmap->Canvas());
            ::BitBlt(dest.get(), 0, 0, w, h, screen.get(), desktop.left, desktop.top, SRCCOPY);
            BlackenUncovered(dest.get(), desktop);
        }
        // The windows as they are in the copy, for the pointer to frame.
        windows_.Take(desktop, window_.Handle());
        window_.SetBounds(desktop.left, desktop.top, w, h);
        FSelecting = false;
        window_.Show();
        Image.Picture.Bitmap().Assign(*FScreenBitmap);
        // Paint now, so that the frozen copy covers the screen at once.
        ::RedrawWindow(Image.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        Screen.SetCursor(crCross);
    }
    POINT p{};
    ::GetCursorPos(&p);
    ::ScreenToClient(Image.Handle(), &p);
    Hover(p);
}

RECT TCaptureOverlay::SelectionRect() const {
    return RECT{std::min(FStartX, FCurX), std::min(FStartY, FCurY), std::max(FStartX, FCurX),
                std::max(FStartY, FCurY)};
}

void TCaptureOverlay::ImageMouseDown(int X, int Y) {
    if (!FScreenBitmap) return;
    FStartX = FCurX = X;
    FStartY = FCurY = Y;
    FSelecting = true;
    dragged_ = false;
    // What is under the press is what a click hands over; its frame gives
    // way to the band.
    Hover(POINT{X, Y});
    EraseFrame();
    DrawSelection();
}

void TCaptureOverlay::ImageMouseMove(int X, int Y) {
    if (!FSelecting) {
        if (FScreenBitmap) Hover(POINT{X, Y});
        return;
    }
    if (std::abs(X - FStartX) > ::GetSystemMetrics(SM_CXDRAG) ||
        std::abs(Y - FStartY) > ::GetSystemMetrics(SM_CYDRAG))
        dragged_ = true;
    EraseSelection();
    FCurX = X;
    FCurY = Y;
    DrawSelection();
}

void TCaptureOverlay::ImageMouseUp() {
    // A release without a press of this capture (or after it ended) has no
    // rectangle to hand over.
    if (!FSelecting || !FScreenBitmap) return;
    EraseSelection();
    FSelecting = false;
    // A click hands over the window or control framed under it: the empty
    // picture of a point would help nobody and every plug-in refuses it.
    // With nothing framed a click is a point as before.
    HandOver(!dragged_ && framed_ ? frame_ : SelectionRect());
}

void TCaptureOverlay::MouseWheel(int delta, POINT screenPoint) {
    if (FSelecting || !FScreenBitmap || !delta) return;
    ::ScreenToClient(Image.Handle(), &screenPoint);
    const size_t levels = windows_.ChainAt(screenPoint).size();
    if (!levels) return;
    // From wherever the frame is shown now, which may be less deep than asked.
    depth_ = std::clamp(std::min(depth_, static_cast<int>(levels) - 1) + (delta < 0 ? 1 : -1), 0,
                        static_cast<int>(levels) - 1);
    Hover(screenPoint);
}

void TCaptureOverlay::Hover(POINT p) {
    const std::vector<RECT> chain = windows_.ChainAt(p);
    const bool framed = !chain.empty();
    // Another window starts at its own frame again, not at a control.
    if (!framed || !::EqualRect(&chain[0], &windowFrame_)) depth_ = 0;
    if (framed) windowFrame_ = chain[0];
    const RECT frame = framed ? chain[std::min<size_t>(depth_, chain.size() - 1)] : RECT{};
    if (framed == framed_ && ::EqualRect(&frame, &frame_) && frameShown_ == framed) return;
    EraseFrame();
    framed_ = framed;
    frame_ = frame;
    DrawFrame();
}

void TCaptureOverlay::DrawFrame() {
    if (!framed_ || frameShown_) return;
    // Inverted, so that it shows on any picture; drawn on the window only.
    TCanvas::Lease dc(window_.Canvas());
    for (const RECT& e : Edges(frame_, kFrameWidth, kFrameWidth))
        if (!::IsRectEmpty(&e))
            ::PatBlt(dc.get(), e.left, e.top, e.right - e.left, e.bottom - e.top, DSTINVERT);
    frameShown_ = true;
}

void TCaptureOverlay::EraseFrame() {
    if (!frameShown_) return;
    TCanvas& frozen = Image.Picture.Bitmap().Canvas();
    for (const RECT& e : Edges(frame_, kFrameWidth, kFrameWidth))
        if (!::IsRectEmpty(&e)) window_.Canvas().CopyRect(e, frozen, e);
    frameShown_ = false;
}

void TCaptureOverlay::HandOver(const RECT& sel) {
    // The picture leaves the capture first: anything that runs a message
    // loop from here on (a message in the wizard's creation) may end the
    // capture and free its bitmaps.
    const int w = sel.right - sel.left, h = sel.bottom - sel.top;
    // The wizard opens on the monitor that holds most of the selection.
    RECT onScreen = sel, capture{};
    ::GetWindowRect(window_.Handle(), &capture);
    ::OffsetRect(&onScreen, capture.left, capture.top);
    const HMONITOR monitor = ::MonitorFromRect(&onScreen, MONITOR_DEFAULTTONEAREST);
    TBitmap picture(w, h, FScreenBitmap->PixelFormat());
    if (w > 0 && h > 0) {
        TCanvas::Lease dest(picture.Canvas());
        TCanvas::Lease frozen(Image.Picture.Bitmap().Canvas(), true);
        ::BitBlt(dest.get(), 0, 0, w, h, frozen.get(), sel.left, sel.top, SRCCOPY);
    }
    EndCapture();
    if (OnHandOver) OnHandOver(picture, monitor);
}

void TCaptureOverlay::DrawSelection() { window_.Canvas().DrawFocusRect(SelectionRect()); }

void TCaptureOverlay::EraseSelection() {
    RECT r = SelectionRect();
    ::InflateRect(&r, 1, 1);
    // The band lies on the rectangle's edges only: restoring the four edge
    // strips of the grown rectangle looks the same as restoring all of it
    // and costs the perimeter instead of the area. The system draws the
    // band as wide as its focus border (wider at a high DPI); each strip
    // covers that and the one pixel the rectangle was grown by.
    UINT borderX = 1, borderY = 1;
    ::SystemParametersInfoA(SPI_GETFOCUSBORDERWIDTH, 0, &borderX, 0);
    ::SystemParametersInfoA(SPI_GETFOCUSBORDERHEIGHT, 0, &borderY, 0);
    const int w = static_cast<int>(borderX) + 1, h = static_cast<int>(borderY) + 1;
    TCanvas& frozen = Image.Picture.Bitmap().Canvas();
    for (const RECT& s : Edges(r, w, h))
        if (!::IsRectEmpty(&s)) window_.Canvas().CopyRect(s, frozen, s);
}

void TCaptureOverlay::EndCapture() {
    Screen.SetCursor(crDefault);
    window_.Hide();
    if (::GetCapture() == Image.Handle()) ::ReleaseCapture();
    FSelecting = false;
    windows_.Clear();
    framed_ = frameShown_ = false;
    depth_ = 0;
    Image.Picture.Bitmap().FreeImage();
    if (FScreenBitmap) FScreenBitmap->FreeImage();
    FScreenBitmap.reset();
}
