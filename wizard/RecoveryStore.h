// Pictures kept on disk while their wizard runs, so that a plug-in that
// takes the process down, a quit or the end of the session never takes the
// user's picture with it. Each picture is a bitmap file in the user's local
// application-data folder (Kestrix\Recovery), beside a small record of the
// plug-in call under way.
#pragma once

#include "ui/Bitmap.h"
#include "ui/Handles.h"

#include <memory>
#include <string>
#include <vector>

// The store's folder; raises when the system has no local application-data
// folder.
std::wstring RecoveryFolder();

// Whether this process is the only instance of the program run by this
// user: only that one looks into the store at start. The answer holds for
// the process's life; a run started for an automation client never asks.
bool ClaimRecoveryStore();

class TRecoveryEntry {
public:
    // A new entry for a new picture; nothing is on disk until Save.
    static std::unique_ptr<TRecoveryEntry> Create();
    // The entry of a picture kept by an earlier run.
    explicit TRecoveryEntry(std::wstring picturePath);
    TRecoveryEntry(const TRecoveryEntry&) = delete;
    TRecoveryEntry& operator=(const TRecoveryEntry&) = delete;
    // The files stay: only Remove takes them away.
    ~TRecoveryEntry();

    // Writes the picture safely: a temporary file, flushed, then renamed
    // over the last copy, so a copy on disk is always whole. Raises with
    // the reason when it cannot.
    void Save(ui::TBitmap& picture);
    // The same in two steps, so that the wizard is on screen before the
    // disk is waited for: BeginSave takes the picture's pixels as they are
    // now (later edits make pixels of their own), FinishSave writes them
    // and raises what it met. A thread of its own would overlap the disk's
    // time with the window's making, but the system keeps much of a
    // finished thread's memory for the next one.
    void BeginSave(ui::TBitmap& picture);
    void FinishSave();
    // Records the plug-in call under way (an empty plug-in: none): its
    // name, the call and its identifier.
    void NoteCall(const std::string& plugin, const std::string& id, const char* call);
    // Counts an opening of a kept picture on disk before it opens; gives
    // how many openings before this one never came to an end.
    int MarkOpening();
    // The picture's wizard came to an orderly end without removing it.
    void ClearOpenings() noexcept;
    // The wizard ended as the user meant: the copy is not needed any more.
    void Remove() noexcept;

    const std::wstring& PicturePath() const { return picture_; }

private:
    struct Write;
    std::wstring picture_;
    std::unique_ptr<Write> write_;
    ui::FileHandle call_;
    // Held open while the picture is live in this process: another
    // instance leaves such a picture alone.
    ui::FileHandle live_;
    bool noted_ = false;
};

// A picture that an earlier run left in the store.
struct TKeptPicture {
    std::wstring Path;
    // The plug-in whose call was under way, the call and the plug-in's
    // identifier; empty when none.
    std::string Plugin;
    std::string Call;
    std::string PluginId;
    // Openings of the picture by earlier starts that never came to an end.
    int Openings = 0;
};

// The kept pictures, oldest first; a picture that another running instance
// holds is none of them. Leftovers of writes that never finished are
// cleared away on the way.
std::vector<TKeptPicture> KeptPictures();

// Moves a picture that cannot be read out of the store's way, beside it,
// never deleting it; gives its new path.
std::wstring SetKeptPictureAside(const std::wstring& path);
