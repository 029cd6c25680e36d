#include "addons/PluginHost/PluginHostUnit.h"

#include "automation/ComObj.h"
#include "plugins/KestrixCommUnit.h"
#include "ui/BitmapFile.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <cstdio>

using namespace ui;

namespace {
// The wizard's window: its font, and its plug-in page's size and place.
const FormLayout kForm = {
    "TPluginHostWindow", "Kestrix plug-in host", 0, 0, 542, 306, bsDialog,
    fsNormal, poDesktopCenter, {"MS Sans Serif", -11}, clBtnFace, 0, true,
};

const TControlLayout kControls[] = {
    // kind          name               parent   left top  w    h    text       tab
    {ckOleContainer, "PluginContainer", nullptr, 0,   0,   542, 270, "",        0, loNoBorder},
    {ckBevel,        "Bevel1",          nullptr, 0,   270, 542, 2},
    {ckLabel,        "Status",          nullptr, 8,   283, 280, 0,   ""},
    {ckButton,       "Back",            nullptr, 298, 277, 75,  25,  "<  Back", 1},
    {ckButton,       "Next",            nullptr, 373, 277, 75,  25,  "Next  >", 2, loDefault},
    {ckButton,       "Finalize",        nullptr, 459, 277, 75,  25,  "Cancel",  3, loCancel},
};

TPixelFormat FormatOfBits(int bits) {
    const TPixelFormat format = PixelFormatOfBits(bits);
    if (format == pfDevice)
        throw Exception("A picture has 1, 4, 8, 15, 16, 24 or 32 bits, not " + std::to_string(bits));
    return format;
}

void DrawTestPicture(TBitmap& picture) {
    picture.SetSize(320, 200);
    TCanvas& canvas = picture.Canvas();
    for (int y = 0; y < 200; y += 8)
        for (int x = 0; x < 320; x += 8) {
            canvas.Brush.SetColor(static_cast<TColor>(RGB(x * 255 / 319, y * 255 / 199, (x + y) % 256)));
            canvas.FillRect(RECT{x, y, x + 8, y + 8});
        }
    canvas.Brush.SetColor(clWhite);
    canvas.Font.SetColor(clBlack);
    canvas.TextOut(12, 12, "Kestrix test picture");
}
}  // namespace

void WriteOutput(const std::string& line) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void LoadTestPicture(TBitmap& picture, const std::wstring& path, int bits) {
    picture.SetPixelFormat(pf24bit);
    TPixelFormat format = pf24bit;
    if (path.empty()) {
        DrawTestPicture(picture);
    } else {
        GdiObject loaded(::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                      LR_LOADFROMFILE | LR_CREATEDIBSECTION));
        if (!loaded)
            throw Exception("Cannot read the picture " + Quoted(path) + ". " +
                            SysErrorMessage(::GetLastError()));
        DIBSECTION dib = {};
        if (::GetObjectW(loaded.get(), sizeof dib, &dib) != sizeof dib)
            throw Exception("Cannot read the picture " + Quoted(path));
        picture.SetSize(dib.dsBm.bmWidth, dib.dsBm.bmHeight);
        {
            MemDc dc(::CreateCompatibleDC(nullptr));
            SelectGuard select(dc.get(), loaded.get());
            TCanvas::Lease to(picture.Canvas());
            ::BitBlt(to.get(), 0, 0, dib.dsBm.bmWidth, dib.dsBm.bmHeight, dc.get(), 0, 0, SRCCOPY);
        }
        const int depth = dib.dsBm.bmBitsPixel;
        format = depth == 16 ? (dib.dsBmih.biCompression == BI_BITFIELDS && dib.dsBitfields[1] == 0x07E0
                                    ? pf16bit
                                    : pf15bit)
                             : FormatOfBits(depth);
    }
    if (bits) format = FormatOfBits(bits);
    if (format != pf24bit) picture.SetPixelFormat(format);
}

TPluginHostWindow::TPluginHostWindow(const std::string& pluginId, TBitmap& picture)
    : TForm(kForm, kControls), pluginId_(pluginId), picture_(picture) {
    OnActivate = [this] { FormActivate(); };
    PluginContainer.OnEnter = [this](TControl*) { PluginContainerEnter(); };
    PluginContainer.OnExit = [this](TControl*) { PluginContainerExit(); };
    Back.OnClick = [this](TControl*) { ShowPluginOptions(); };
    Next.OnClick = [this](TControl*) { NextClick(); };
    Finalize.OnClick = [this](TControl*) { Close(); };
    Session.OnTrace = [this](const std::string& line) { Report(line); };
}

void TPluginHostWindow::FormActivate() {
    // The page comes once the window is there, as the wizard's does.
    if (shown_) return;
    shown_ = true;
    ShowPluginOptions();
}

void TPluginHostWindow::Report(const std::string& line) {
    WriteOutput(line);
    Status.SetCaption(line);
}

void TPluginHostWindow::ShowPluginOptions() {
    if (!listed_) {
        // As the wizard's list does: an instance of its own, released at
        // once, inside the same fault frame.
        PluginListing listing;
        ListPlugin(pluginId_, {}, listing, nullptr,
                   [this](const std::string& name, const std::string& description,
                          const std::string& optionsName, HRESULT status, HRESULT result) {
                       Report("GetPluginInfo: status " + HexStatus(status) + ", Result " +
                              HexStatus(result) + ", Name \"" + name + "\", Description \"" +
                              description + "\", OptionsObjectName \"" + optionsName + "\"");
                   });
        if (listing.plugins.empty())
            throw Exception(listing.failures.empty()
                                ? "Cannot create the plug-in " + pluginId_ + ": the class is no plug-in"
                                : listing.failures.back().Reason);
        const ListedPlugin& listed = listing.plugins.front();
        if (!listed.entry) throw Exception("The plug-in " + pluginId_ + " names no usable options object");
        turn_ = PluginTurn{-1, listed.name, *listed.entry};
        SetCaption("Kestrix plug-in host: " + listed.name);
        listed_ = true;
    }
    Session.Show(turn_);
}

void TPluginHostWindow::NextClick() {
    if (!Session.Ready()) {
        ShowPluginOptions();
        return;
    }
    succeeded_ = false;
    if (!Session.SaveSettings()) return;

    ComPtr<IStream> stream = BitmapFileStream(picture_);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    const std::string what = std::to_string(picture_.Width()) + " x " +
                             std::to_string(picture_.Height()) + " pixels, " +
                             std::to_string(stat.cbSize.QuadPart) + " bytes";
    bool result = false;
    {
        Hide();
        ScopeExit showAgain([this] { Show(); });
        result = Session.Execute(stream.get(), Handle(), what);
    }
    if (!result) return;
    succeeded_ = true;
    // As the wizard moves on, this page goes; a fresh one of the same plug-in
    // follows so that it can be run again.
    ShowPluginOptions();
}

void TPluginHostWindow::PluginContainerEnter() { Session.Notify(nmGetFocus); }

void TPluginHostWindow::PluginContainerExit() { Session.Notify(nmLostFocus); }
