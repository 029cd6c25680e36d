// The capture overlay: the frozen copy of the screen that a window shows,
// the rubber band drawn over it and the rectangle chosen on it. It needs no
// tray: the window that shows it forwards its mouse messages, ends the
// capture when it loses the activation and takes the picture through
// OnHandOver.
#pragma once

#include "capture/WindowSnapshot.h"
#include "ui/Forms.h"

#include <functional>
#include <memory>

class TCaptureOverlay {
public:
    // The window covers the screen with `image`, which shows the frozen copy.
    TCaptureOverlay(ui::TForm& window, ui::TImage& image);

    // Receives the chosen picture after the capture has ended, with the
    // monitor that holds most of it.
    std::function<void(ui::TBitmap& picture, HMONITOR monitor)> OnHandOver;

    void TakeScreenshot();
    void ImageMouseDown(int X, int Y);
    void ImageMouseMove(int X, int Y);
    void ImageMouseUp();
    // The wheel at a point of the screen: towards the user walks down to
    // the control under the pointer, away from the user back up.
    void MouseWheel(int delta, POINT screenPoint);
    void DrawSelection();
    void EraseSelection();
    void EndCapture();

    bool Capturing() const { return FScreenBitmap != nullptr; }
    bool Selecting() const { return FSelecting; }
    RECT SelectionRect() const;

private:
    void HandOver(const RECT& selection);
    void Hover(POINT p);
    void DrawFrame();
    void EraseFrame();

    ui::TForm& window_;
    ui::TImage& Image;
    std::unique_ptr<ui::TBitmap> FScreenBitmap;
    int FStartX = 0;
    int FStartY = 0;
    int FCurX = 0;
    int FCurY = 0;
    bool FSelecting = false;
    TWindowSnapshot windows_;
    // How far below its window the frame is, in child controls.
    int depth_ = 0;
    RECT windowFrame_{};
    bool framed_ = false;
    // Whether the frame is on the screen now (not while the band is).
    bool frameShown_ = false;
    RECT frame_{};
    bool dragged_ = false;
};
