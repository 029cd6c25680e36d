// The recovery store's costs: writing a 4K picture's copy on disk (temporary
// file, flush, rename) against a bare WriteFile of the same bytes, whole and
// as long as it holds the program's thread; and the time from the selection
// to the wizard on screen, with the test plug-ins listed, with the copy
// against without it. Prints ratios.
#include "bench/BenchTiming.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "ui/Forms.h"
#include "wizard/AfterScreenShotWindowUnit.h"
#include "wizard/RecoveryStore.h"

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
    double plain = 1e9, flushed = 1e9, kept = 1e9, held = 1e9;
    for (int round = 0; round < 5; ++round) {
        plain = std::min(plain, Best(3, [&] { writeBare(false); }));
        flushed = std::min(flushed, Best(3, [&] { writeBare(true); }));
        kept = std::min(kept, Best(3, [&] { entry->Save(picture); }));
        for (int i = 0; i < 3; ++i) {
            const double start = Now();
            entry->BeginSave(picture);
            held = std::min(held, Now() - start);
            entry->FinishSave();
        }
    }
    entry->Remove();
    ::DeleteFileW(bare.c_str());
    std::printf("write: 3840 x 2160 32-bit picture kept on disk %.1f ms, bare WriteFile %.1f ms "
                "(ratio %.2f, target <= 1.2), WriteFile and flush %.1f ms (ratio %.2f); "
                "begun on its thread, the program's thread held %.1f ms (ratio %.2f)\n",
                kept * 1e3, plain * 1e3, kept / plain, flushed * 1e3, kept / flushed, held * 1e3,
                held / plain);
}

// From the selection's picture to the wizard painted on screen.
double ToWizard(int w, int h, bool store) {
    TBitmap picture(w, h, pf32bit);
    Fill(picture);
    std::vector<double> runs;
    for (int i = 0; i < 7; ++i) {
        const double start = Now();
        std::unique_ptr<TRecoveryEntry> entry;
        if (store) {
            entry = TRecoveryEntry::Create();
            // As the capture does: the wizard waits for it at its first
            // plug-in call, while it lists the plug-ins.
            entry->BeginSave(picture);
        }
        TRecoveryEntry* kept = entry.get();
        TAfterScreenShotWindow wizard(std::move(entry));
        wizard.ScreenShot.Picture.Bitmap().Assign(picture);
        wizard.Show();
        ::UpdateWindow(wizard.Handle());
        ::GdiFlush();
        runs.push_back(Now() - start);
        if (kept) kept->Remove();
    }
    return Median(runs);
}

void OpenRatio() {
    for (auto [w, h] : {std::pair{3840, 2160}, {1280, 720}}) {
        double with = 1e9, without = 1e9;
        for (int round = 0; round < 3; ++round) {
            without = std::min(without, ToWizard(w, h, false));
            with = std::min(with, ToWizard(w, h, true));
        }
        std::printf("open: %d x %d selection to the wizard on screen with its copy kept %.1f ms, "
                    "without %.1f ms (ratio %.2f, target <= 1.2)\n",
                    w, h, with * 1e3, without * 1e3, with / without);
    }
}

}  // namespace

int main() {
    ::OleInitialize(nullptr);
    ::SetProcessDPIAware();
    Application.SetTitle("Kestrix");
    Application.OnException = [](const std::string& text) { std::printf("error: %s\n", text.c_str()); };
    KestrixObjectFactory().RegisterClassObject();
    test_plugin::RunRegsvr32(true);
    WriteRatio();
    OpenRatio();
    test_plugin::RunRegsvr32(false);
    KestrixObjectFactory().RevokeClassObject();
    ::OleUninitialize();
    return 0;
}
