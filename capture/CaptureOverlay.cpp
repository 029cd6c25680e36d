#include "capture/CaptureOverlay.h"

#include "ui/Exception.h"

#include <algorithm>

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
        window_.SetBounds(desktop.left, desktop.top, w, h);
        FSelecting = false;
        window_.Show();
        Image.Picture.Bitmap().Assign(*FScreenBitmap);
        // Paint now, so that the frozen copy covers the screen at once.
        ::RedrawWindow(Image.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        Screen.SetCursor(crCross);
    }
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
    DrawSelection();
}

void TCaptureOverlay::ImageMouseMove(int X, int Y) {
    if (!FSelecting) return;
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
    HandOver(SelectionRect());
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
    const RECT strips[] = {
        {r.left, r.top, r.right, std::min(r.top + h, r.bottom)},
        {r.left, std::max(r.bottom - h, r.top), r.right, r.bottom},
        {r.left, r.top, std::min(r.left + w, r.right), r.bottom},
        {std::max(r.right - w, r.left), r.top, r.right, r.bottom},
    };
    TCanvas& frozen = Image.Picture.Bitmap().Canvas();
    for (const RECT& s : strips) window_.Canvas().CopyRect(s, frozen, s);
}

void TCaptureOverlay::EndCapture() {
    Screen.SetCursor(crDefault);
    window_.Hide();
    if (::GetCapture() == Image.Handle()) ::ReleaseCapture();
    FSelecting = false;
    Image.Picture.Bitmap().FreeImage();
    if (FScreenBitmap) FScreenBitmap->FreeImage();
    FScreenBitmap.reset();
}
