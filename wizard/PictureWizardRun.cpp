#include "wizard/PictureWizardRun.h"

#include "ui/Exception.h"
#include "ui/Forms.h"
#include "wizard/AfterScreenShotWindowUnit.h"

#include <memory>

using namespace ui;

namespace {
// The run under way: what the end of the session must save while the
// wizard is not there yet.
struct WizardRun {
    TBitmap* picture = nullptr;
    TRecoveryEntry* entry = nullptr;
};
WizardRun* currentRun = nullptr;
}  // namespace

void RunPictureWizard(TBitmap& picture, const TKeptPicture* kept, HMONITOR monitor) {
    std::unique_ptr<TRecoveryEntry> entry;
    if (kept) {
        entry = std::make_unique<TRecoveryEntry>(kept->Path);
    } else if (!picture.Empty()) {
        try {
            entry = TRecoveryEntry::Create();
            // Written once the wizard is on screen, before it first calls
            // plug-in code.
            entry->BeginSave(picture);
        } catch (const std::exception& e) {
            entry.reset();
            Application.HandleException(
                Exception(std::string(e.what()) + " The picture stays open in the wizard."));
        }
    }
    int openings = 0;
    if (kept && entry) {
        try {
            openings = entry->MarkOpening();
        } catch (const std::exception&) {
            // Unmarked, the opening counts as the first: plug-ins are called.
        }
    }
    WizardRun run{&picture, entry.get()};
    currentRun = &run;
    std::unique_ptr<TAfterScreenShotWindow> wizard;
    ScopeExit cleanup([&] {
        currentRun = nullptr;
        wizard.reset();
        AfterScreenShotWindow = nullptr;
        FreeWizardLeftovers();
        TrimWorkingSet();
    });
    TKeptPicture opened = kept ? *kept : TKeptPicture{};
    opened.Openings = openings;
    wizard = MakeFormOn<TAfterScreenShotWindow>(monitor, std::move(entry), kept ? &opened : nullptr);
    AfterScreenShotWindow = wizard.get();
    wizard->ScreenShot.Picture.Bitmap().Assign(picture);
    picture.FreeImage();
    run.picture = nullptr;
    wizard->ScreenShot.Invalidate();
    wizard->ShowModal();
    // The program is ending with the wizard still open.
    if (Application.Terminated()) wizard->KeepForQuit();
}

void KeepWizardPictureForSessionEnd() noexcept {
    if (AfterScreenShotWindow) {
        AfterScreenShotWindow->KeepForSessionEnd();
        return;
    }
    // Still being made: its picture is written from here.
    if (!currentRun || !currentRun->picture || !currentRun->entry) return;
    try {
        currentRun->entry->Save(*currentRun->picture);
    } catch (...) {
        // Nobody is left to tell.
    }
}
