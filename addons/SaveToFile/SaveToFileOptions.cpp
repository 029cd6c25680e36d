#include "addons/SaveToFile/SaveToFileOptions.h"

#include "addons/SaveToFile/FileNamePattern.h"
#include "addons/common/Files.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cwchar>

using namespace ui;
using addons::TImageFormat;

namespace save_to_file {

TSaveToFileOptions::TSaveToFileOptions(automation::TComObjectFactory& factory)
    : TOptionsControl(factory), settings_(TSaveToFileSettings::Load()),
      validQuality_(settings_.JpegQuality) {}

void TSaveToFileOptions::CreateControls() {
    const DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
    Add(L"STATIC", L"&Folder:", 0, -1, 12, 14, 90, 18);
    Add(L"EDIT", settings_.Folder.c_str(), edit, idFolder, 104, 11, 330, 22, WS_EX_CLIENTEDGE);
    Add(L"BUTTON", L"&Browse...", WS_TABSTOP | BS_PUSHBUTTON, idBrowse, 442, 9, 88, 25);
    Add(L"STATIC", L"File &name:", 0, -1, 12, 46, 90, 18);
    Add(L"EDIT", settings_.Pattern.c_str(), edit, idPattern, 104, 43, 426, 22, WS_EX_CLIENTEDGE);
    // Room for two lines: the fields wrap where the page's font is wide.
    Add(L"STATIC", kPatternFields, SS_NOPREFIX, idFields, 104, 68, 426, 32);
    Add(L"STATIC", L"Next file:", 0, -1, 12, 104, 90, 18);
    Add(L"STATIC", L"", SS_NOPREFIX | SS_PATHELLIPSIS, idPreview, 104, 104, 426, 18);
    Add(L"STATIC", L"F&ormat:", 0, -1, 12, 134, 90, 18);
    HWND format = Add(L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, idFormat, 104,
                      130, 120, 160);
    for (int i = 0; i < addons::kImageFormatCount; ++i)
        ::SendMessageW(format, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(addons::FormatName(static_cast<TImageFormat>(i))));
    ::SendMessageW(format, CB_SETCURSEL, static_cast<WPARAM>(settings_.Format), 0);
    Add(L"STATIC", L"JPEG &quality:", 0, idQualityLabel, 250, 134, 90, 18);
    HWND quality = Add(L"EDIT", std::to_wstring(settings_.JpegQuality).c_str(), edit | ES_NUMBER,
                       idQuality, 342, 130, 50, 22, WS_EX_CLIENTEDGE);
    HWND spin = Add(UPDOWN_CLASSW, L"", UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS |
                                          UDS_NOTHOUSANDS,
                    idQualitySpin, 392, 130, 16, 22);
    ::SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(quality), 0);
    ::SendMessageW(spin, UDM_SETRANGE32, 1, 100);
    ::SendMessageW(spin, UDM_SETPOS32, 0, settings_.JpegQuality);
    Add(L"STATIC", L"", SS_NOPREFIX, addons::kMessageId, 12, 166, 518, 64);
    UpdatePreview();
}

void TSaveToFileOptions::ReadControls() {
    if (!Page()) return;
    settings_.Folder = ItemText(idFolder);
    settings_.Pattern = ItemText(idPattern);
    LRESULT format = ::SendMessageW(Item(idFormat), CB_GETCURSEL, 0, 0);
    if (format >= 0 && format < addons::kImageFormatCount)
        settings_.Format = static_cast<TImageFormat>(format);
    // Pasting gets past ES_NUMBER. A quality that does not count because the
    // format is no JPEG keeps the stored one.
    qualityText_ = ItemText(idQuality);
    size_t first = qualityText_.find_first_not_of(L' ');
    std::wstring digits;
    if (first != std::wstring::npos)
        digits = qualityText_.substr(first, qualityText_.find_last_not_of(L' ') + 1 - first);
    bool jpeg = settings_.Format == TImageFormat::Jpeg;
    qualityIsNumber_ = !digits.empty() && digits.size() <= 9 &&
                       digits.find_first_not_of(L"0123456789") == std::wstring::npos;
    int quality = qualityIsNumber_ ? static_cast<int>(std::wcstol(digits.c_str(), nullptr, 10)) : 0;
    if (quality >= 1 && quality <= 100) validQuality_ = quality;
    settings_.JpegQuality = jpeg ? quality : validQuality_;
}

void TSaveToFileOptions::UpdatePreview() {
    ReadControls();
    bool jpeg = settings_.Format == TImageFormat::Jpeg;
    for (int id : {idQuality, idQualitySpin, idQualityLabel}) ::EnableWindow(Item(id), jpeg);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    std::wstring base = ExpandPattern(settings_.Pattern, now, NextCounter());
    std::wstring problem = addons::FileNameProblem(base, FormatExtension(settings_.Format));
    SetItemText(idPreview, problem.empty() ? base + FormatExtension(settings_.Format)
                                           : L"(none: see the file name)");
}

void TSaveToFileOptions::Command(int id, int code) {
    if ((id == idPattern && code == EN_CHANGE) || (id == idFormat && code == CBN_SELCHANGE))
        UpdatePreview();
    else if (id == idBrowse && code == BN_CLICKED)
        Browse();
}

namespace {
int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) noexcept {
    if (msg == BFFM_INITIALIZED && data) ::SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

struct PidlTraits {
    using Handle = PIDLIST_ABSOLUTE;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::CoTaskMemFree(h); }
};
}  // namespace

void TSaveToFileOptions::Browse() {
    std::wstring current = ItemText(idFolder);
    BROWSEINFOW info = {};
    info.hwndOwner = ::GetAncestor(Page(), GA_ROOT);
    info.lpszTitle = L"Choose the folder the pictures go to.";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(current.c_str());
    UniqueHandle<PidlTraits> chosen(::SHBrowseForFolderW(&info));
    if (!chosen) return;
    CoTaskString path;
    OleCheck(::SHGetNameFromIDList(chosen.get(), SIGDN_FILESYSPATH, path.put()),
             "The chosen place is not a folder of the file system");
    SetItemText(idFolder, path.get());
    SetMessage(L"");
}

bool TSaveToFileOptions::ApplySettings(IKestrixPlugin* plugin) {
    ReadControls();
    TSaveToFilePlugin* own = TSaveToFilePlugin::From(plugin);
    if (!own) throw Exception("The plug-in handed to the Save-to-file options is not its own");
    std::wstring problem = settings_.Problem();
    if (settings_.Format == TImageFormat::Jpeg && !qualityIsNumber_)
        problem = L"The JPEG quality \"" + qualityText_ +
                  L"\" is not a number. Type a number from 1 to 100.";
    SetMessage(problem);
    if (!problem.empty()) return false;
    settings_.Store();
    own->SetSettings(settings_);
    return true;
}

}  // namespace save_to_file
