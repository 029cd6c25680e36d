// The recovery store's costs: writing a 4K picture's copy on disk (temporary
// file, flush, rename) against a bare WriteFile of the same bytes, with and
// without the flush; and the time from the selection to the wizard painted
// on screen, with the copy begun against without it. Prints ratios.
#include "bench/BenchProgram.h"
#include "bench/BenchTiming.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/ProgramServer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "ui/Forms.h"
#include "wizard/AfterScreenShotWindowUnit.h"
#include "wizard/RecoveryStore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace ui;
using namespace bench;

namespace {

void Fill(TBitmap& picture) {
    uint8_t* p = picture.Bits();
    const size_t bytes = static_cast<size_t>(picture.Stride()) * picture.Height();
    for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
}

void WriteRatio() {
    TBitmap picture(3840, 2160, pf32bit);
    Fill(picture);
    const size_t bytes = static_cast<size_t>(picture.Stride()) * picture.Height();
    const std::wstring bare = RecoveryFolder() + L"\\bench-bare.bmp";
    auto writeBare = [&](bool flush) {
        FileHandle file(::CreateFileW(bare.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), picture.ConstBits(), static_cast<DWORD>(bytes), &written, nullptr);
        if (flush) ::FlushFileBuffers(file.get());
    };
    auto entry = TRecoveryEntry::Create();
    entry->Save(picture);  // the folder made, outside the timing
    // A run: the best of 3 of each, turn about.
    Runs toFlushed, toPlain;
    for (int round = 0; round < kRuns; ++round) {
        const double plain = Best(3, [&] { writeBare(false); });
        const double flushed = Best(3, [&] { writeBare(true); });
        const double kept = Best(3, [&] { entry->Save(picture); });
        toFlushed.Add(kept, flushed);
        toPlain.Add(kept, plain);
    }
    entry->Remove();
    ::DeleteFileW(bare.c_str());
    std::printf("write: 3840 x 2160 32-bit picture kept on disk %.1f ms, bare WriteFile %.1f ms, "
                "WriteFile and flush %.1f ms (medians)\n",
                toFlushed.Cost() * 1e3, toPlain.Base() * 1e3, toFlushed.Base() * 1e3);
    Report("recovery-write/write-flush", "ratio kept / WriteFile and flush", toFlushed.Ratio(), 1.2);
    Report("", "ratio kept / bare WriteFile", toPlain.Ratio());
}

// From the selection's picture to the wizard painted on screen. The last
// wizard's windows are gone from the display first, as they are long gone
// when a user makes the next selection.
double ToWizard(TBitmap& picture, bool store) {
    testing_support::Pump(40);
    const double start = Now();
    std::unique_ptr<TRecoveryEntry> entry;
    if (store) {
        entry = TRecoveryEntry::Create();
        // As the capture does: the wizard writes it at its first tick,
        // once it is on screen.
        entry->BeginSave(picture);
    }
    TRecoveryEntry* kept = entry.get();
    double took;
    {
        TAfterScreenShotWindow wizard(std::move(entry));
        wizard.ScreenShot.Picture.Bitmap().Assign(picture);
        wizard.Show();
        ::UpdateWindow(wizard.Handle());
        ::GdiFlush();
        took = Now() - start;
        if (kept) kept->Remove();
    }
    return took;
}

void OpenRatio() {
    for (auto [w, h] : {std::pair{3840, 2160}, {1280, 720}}) {
        TBitmap picture(w, h, pf32bit);
        Fill(picture);
        // A run: the best of 3 of each, turn about.
        const Runs runs = Measure(kRuns, [&](int) {
            double without = 1e9, with = 1e9;
            for (int i = 0; i < 3; ++i) {
                without = std::min(without, ToWizard(picture, false));
                with = std::min(with, ToWizard(picture, true));
            }
            return std::pair{with, without};
        });
        std::printf("open: %d x %d selection to the wizard on screen with its copy kept %.1f ms, "
                    "without %.1f ms (medians)\n",
                    w, h, runs.Cost() * 1e3, runs.Base() * 1e3);
        Report(w == 3840 ? "recovery-open-4k/without" : "recovery-open-720p/without",
               "ratio with the copy / without", runs.Ratio(), 1.2);
    }
}

}  // namespace

int main() {
    bench::StartAsProgram();
    test_plugin::RunRegsvr32(true);
    WriteRatio();
    OpenRatio();
    test_plugin::RunRegsvr32(false);
    KestrixObjectFactory().RevokeClassObject();
    ::OleUninitialize();
    return 0;
}
