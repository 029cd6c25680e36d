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
using bench::Now;

namespace {

void Flush() {
    ::GdiFlush();
    Application.ProcessMessages();
}

// Median seconds of one run of fn over `runs` runs of `batch` calls each.
double Time(int runs, int batch, const std::function<void(int)>& fn) {
    std::vector<double> t;
    for (int r = 0; r < runs; ++r) {
        // What is left to paint is painted outside the time: unpainted, the
        // invalid region would grow with every call, which no stroke sees.
        Flush();
        const double start = Now();
        for (int i = 0; i < batch; ++i) fn(r * batch + i);
        t.push_back((Now() - start) / batch);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}


// A wizard on a picture of the size, in the screen's format, on page 0.
std::unique_ptr<TAfterScreenShotWindow> Editor(int w, int h) {
    auto form = std::make_unique<TAfterScreenShotWindow>();
    form->HistoryLimit = 10;
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

double MemcpyOf(size_t bytes) {
    std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
    return Time(7, 1, [&](int i) {
        from[0] = static_cast<uint8_t>(i);
        std::memcpy(to.data(), from.data(), bytes);
    });
}

// One preview step of the line tool with a box of side `side`: the
// editor's work, or that and the repaint of what changed.
double PreviewStep(TAfterScreenShotWindow& e, int side, bool repaint = false) {
    e.tbLineClick();
    e.ScreenShotMouseDown(mbLeft, 0, 100, 100);
    const double t = Time(9, 20, [&](int i) {
        e.ScreenShotMouseMove(0, 100 + side - (i & 1), 100 + side);
        if (repaint) Flush(); else ::GdiFlush();
    });
    e.ScreenShotMouseUp(mbLeft, 0, 100 + side, 100 + side);
    return t;
}

void Run() {
    // Creation errors of the plug-in list are no concern here.
    Application.OnException = [](const std::string&) {};
    const int W = 3840, H = 2160;
    auto e = Editor(W, H);
    TBitmap& picture = e->ScreenShot.Picture.Bitmap();
    const size_t bytes = static_cast<size_t>(picture.Stride()) * H;
    const double copy = MemcpyOf(bytes);
    std::printf("picture %dx%d at 32 bits: memcpy of its pixels %.2f ms\n", W, H, copy * 1e3);

    // Pen: segments of 10 pixels across the picture, each shown.
    e->tbPaintClick();
    e->ScreenShotMouseDown(mbLeft, 0, 10, 10);
    auto strokeMove = [&](bool repaint) {
        return Time(9, 100, [&](int i) {
            e->ScreenShotMouseMove(0, 10 + i % 1000 * 3, 10 + i % 1000 * 2);
            if (repaint) Flush(); else ::GdiFlush();
        });
    };
    const double move = strokeMove(false), shownMove = strokeMove(true);
    e->ScreenShotMouseUp(mbLeft, 0, 0, 0);
    std::printf("pen-stroke move: %.4f ms, %.5f of a memcpy (bound 1/50 = 0.02): %s; with its "
                "repaint %.4f ms, %.5f of a memcpy\n",
                move * 1e3, move / copy, move < copy / 50 ? "ok" : "OVER", shownMove * 1e3,
                shownMove / copy);

    // Preview steps: growing boxes on the 4K picture, and one box on a
    // picture a quarter of the size.
    for (int side : {50, 200, 800}) {
        const double step = PreviewStep(*e, side), shown = PreviewStep(*e, side, true);
        std::printf("preview step, box %dx%d: %.4f ms, %.5f of a memcpy, %.2f ns per box pixel; "
                    "with its repaint %.4f ms\n",
                    side + 5, side + 5, step * 1e3, step / copy,
                    step * 1e9 / ((side + 5.0) * (side + 5.0)), shown * 1e3);
    }
    {
        auto small = Editor(W / 2, H / 2);
        const double onSmall = PreviewStep(*small, 200);
        const double onLarge = PreviewStep(*e, 200);
        std::printf("preview step, box 205x205: on 1920x1080 %.4f ms, on 3840x2160 %.4f ms, ratio %.2f\n",
                    onSmall * 1e3, onLarge * 1e3, onLarge / onSmall);
    }

    // Undo push with the history full: the oldest step goes, the picture
    // gets pixels of its own.
    e->tbPaintClick();
    for (int i = 0; i < 10; ++i) {
        e->ScreenShotMouseDown(mbLeft, 0, i, 0);
        e->ScreenShotMouseUp(mbLeft, 0, i, 0);
    }
    const double push = Time(9, 1, [&](int i) {
        e->ScreenShotMouseDown(mbLeft, 0, i % W, 5);
        e->ScreenShotMouseUp(mbLeft, 0, i % W, 5);
        ::GdiFlush();
    });
    std::printf("undo push (history of %zu full): %.2f ms, %.2f of a memcpy (bound 1.5): %s\n",
                e->History.size(), push * 1e3, push / copy, push <= 1.5 * copy ? "ok" : "OVER");
}

}  // namespace

int main() {
    Run();
    return 0;
}
