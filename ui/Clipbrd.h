// The system clipboard: text and pictures as device-independent bitmaps.
#pragma once

#include "ui/Bitmap.h"

#include <string>

namespace ui {

class TClipboard {
public:
    TClipboard() = default;
    TClipboard(const TClipboard&) = delete;
    TClipboard& operator=(const TClipboard&) = delete;
    ~TClipboard();

    // Opening nests. Within one opening, the first data put on the
    // clipboard empties it and later data goes beside it; outside one,
    // every operation opens it for itself.
    void Open();
    void Close();
    class Session {
    public:
        explicit Session(TClipboard& c) : c_(c) { c_.Open(); }
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;
        ~Session() { c_.Close(); }

    private:
        TClipboard& c_;
    };

    void Clear();
    bool HasFormat(UINT format) const { return ::IsClipboardFormatAvailable(format) != FALSE; }
    // The picture as a device-independent bitmap of its own pixel format
    // (5-6-5 bit fields for 16 bits, plain 16-bit RGB for 15); the system
    // keeps it after the program has ended. An empty picture leaves the
    // clipboard as it is.
    void Assign(TBitmap& bitmap);
    // The clipboard's device-independent bitmap, in its pixel format;
    // false when there is none or it is damaged.
    bool GetBitmap(TBitmap& bitmap);
    void SetAsText(const std::string& text);
    std::string AsText();

private:
    // Puts memory on the clipboard, which owns it from then on.
    void SetData(UINT format, GlobalMem data);
    Window wnd_;
    int opens_ = 0;
    bool emptied_ = false;
};

TClipboard& Clipboard();

}  // namespace ui
