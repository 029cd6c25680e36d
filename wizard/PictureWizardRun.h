// The one way a picture goes through the wizard: the wizard is made on the
// given monitor, owns the picture and its copy on disk from start to end,
// and is destroyed whatever happens.
#pragma once

#include "ui/Bitmap.h"
#include "wizard/RecoveryStore.h"

#include <windows.h>

// Runs the wizard modally on the picture, whose pixels move into it. A
// fresh picture (kept null) gets a copy on disk for as long as the wizard
// runs; a kept one goes on with its copy, and its opening is counted on
// disk first, so that a start that does not survive it is known to the
// next one.
void RunPictureWizard(ui::TBitmap& picture, const TKeptPicture* kept, HMONITOR monitor);

// The session is ending: the picture of a wizard under way is written to
// disk at once, even while the wizard is still being made, and nothing is
// shown. The process may end as soon as this returns.
void KeepWizardPictureForSessionEnd() noexcept;
