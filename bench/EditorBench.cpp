// The editor on a 4K picture, each cost as a ratio to a memcpy of the
// picture's pixels measured in the same run: a pen-stroke move, a shape
// preview step for boxes of several sizes and on two picture sizes, and an
// undo push with the history full.
#include "bench/BenchTiming.h"
#include "wizard/AfterScreenShotWindowUnit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace ui;
using namespace bench;

namespace {

void Flush() {
    ::GdiFlush();
    Application.ProcessMessages();
}

// One run of a cost against the memcpy of the picture: `batch` calls of fn
// (seconds per call), then the memcpy in the same run. What is left to
// paint is painted outside the time: unpainted, the invalid region would
// grow with every call, which no stroke sees.
Runs AgainstCopy(int batch, const std::function<void(int)>& fn, const std::function<void()>& copy) {
    return Measure(9, [&](int r) {
        Flush();
        const double start = Now();
        for (int i = 0; i < batch; ++i) fn(r * batch + i);
        const double cost = (Now() - start) / batch;
        return std::pair{cost, Once(copy)};
    });
}

// A wizard on a picture of the size, in the screen's format, on page 0.
std::unique_ptr<TAfterScreenShotWindow> Editor(int w, int h) {
    auto form = std::make_unique<TAfterScreenShotWindow>();
    form->Editor.History.HistoryLimit = 10;
    TBitmap& b = form->ScreenShot.Picture.Bitmap();
    b.SetPixelFormat(pf32bit);
    b.SetSize(w, h);
    auto* px = reinterpret_cast<uint32_t*>(b.Bits());
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) px[i] = static_cast<uint32_t>(i * 2654435761u);
    form->ScreenShot.Invalidate();
    form->Show();
    Flush();
    return form;
}

// One preview step of the line tool with a box of side `side`: the
// editor's work, or that and the repaint of what changed.
Runs PreviewStep(TAfterScreenShotWindow& e, int side, const std::function<void()>& copy,
                 bool repaint = false) {
    e.Editor.tbLineClick();
    e.Editor.ScreenShotMouseDown(mbLeft, 0, 100, 100);
    const Runs t = AgainstCopy(20, [&](int i) {
        e.Editor.ScreenShotMouseMove(0, 100 + side - (i & 1), 100 + side);
        if (repaint) Flush(); else ::GdiFlush();
    }, copy);
    e.Editor.ScreenShotMouseUp(mbLeft, 0, 100 + side, 100 + side);
    return t;
}

void Run() {
    // Creation errors of the plug-in list are no concern here.
    Application.OnException = [](const std::string&) {};
    const int W = 3840, H = 2160;
    auto e = Editor(W, H);
    TBitmap& picture = e->ScreenShot.Picture.Bitmap();
    const size_t bytes = static_cast<size_t>(picture.Stride()) * H;
    std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
    int copies = 0;
    auto copy = [&] {
        from[0] = static_cast<uint8_t>(++copies);
        std::memcpy(to.data(), from.data(), bytes);
    };

    // Pen: segments of 10 pixels across the picture, each shown.
    e->Editor.tbPaintClick();
    e->Editor.ScreenShotMouseDown(mbLeft, 0, 10, 10);
    auto strokeMove = [&](bool repaint) {
        return AgainstCopy(100, [&](int i) {
            e->Editor.ScreenShotMouseMove(0, 10 + i % 1000 * 3, 10 + i % 1000 * 2);
            if (repaint) Flush(); else ::GdiFlush();
        }, copy);
    };
    const Runs move = strokeMove(false), shownMove = strokeMove(true);
    e->Editor.ScreenShotMouseUp(mbLeft, 0, 0, 0);
    std::printf("picture %dx%d at 32 bits: memcpy of its pixels %.2f ms (median)\n", W, H,
                move.Base() * 1e3);
    std::printf("pen-stroke move: %.4f ms, with its repaint %.4f ms (medians)\n", move.Cost() * 1e3,
                shownMove.Cost() * 1e3);
    Report("pen-move/memcpy", "pen-stroke move in memcpys", move.Ratio(), 0.02);
    Report("pen-move-shown/memcpy", "with its repaint, in memcpys", shownMove.Ratio());

    // Preview steps: growing boxes on the 4K picture, and one box on a
    // picture a quarter of the size.
    for (int side : {50, 200, 800}) {
        const Runs step = PreviewStep(*e, side, copy), shown = PreviewStep(*e, side, copy, true);
        std::printf("preview step, box %dx%d: %.4f ms, %.2f ns per box pixel; with its repaint "
                    "%.4f ms (medians)\n",
                    side + 5, side + 5, step.Cost() * 1e3,
                    step.Cost() * 1e9 / ((side + 5.0) * (side + 5.0)), shown.Cost() * 1e3);
        Report("", "in memcpys", step.Ratio());
    }
    {
        auto small = Editor(W / 2, H / 2);
        // Turn about on the two pictures, a step on each per run.
        const Runs sizes = Measure(9, [&](int) {
            const double onSmall = PreviewStep(*small, 200, copy).Cost();
            return std::pair{PreviewStep(*e, 200, copy).Cost(), onSmall};
        });
        std::printf("preview step, box 205x205: on 1920x1080 %.4f ms, on 3840x2160 %.4f ms (medians)\n",
                    sizes.Base() * 1e3, sizes.Cost() * 1e3);
        Report("", "ratio on 3840x2160 / on 1920x1080", sizes.Ratio());
    }

    // Undo push with the history full: the oldest step goes, the picture
    // gets pixels of its own.
    e->Editor.tbPaintClick();
    for (int i = 0; i < 10; ++i) {
        e->Editor.ScreenShotMouseDown(mbLeft, 0, i, 0);
        e->Editor.ScreenShotMouseUp(mbLeft, 0, i, 0);
    }
    const Runs push = AgainstCopy(1, [&](int i) {
        e->Editor.ScreenShotMouseDown(mbLeft, 0, i % W, 5);
        e->Editor.ScreenShotMouseUp(mbLeft, 0, i % W, 5);
        ::GdiFlush();
    }, copy);
    std::printf("undo push (history of %zu full): %.2f ms (median)\n", e->Editor.History.size(),
                push.Cost() * 1e3);
    Report("undo-push/memcpy", "undo push in memcpys", push.Ratio(), 1.5);
}

}  // namespace

int main() {
    Run();
    return 0;
}
