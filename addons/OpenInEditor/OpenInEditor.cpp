#include "addons/OpenInEditor/OpenInEditor.h"

#include "addons/OpenInEditor/OpenInEditorOptions.h"
#include "addons/common/Files.h"
#include "addons/common/ImageFile.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>

using namespace ui;

namespace open_in_editor {

namespace {
std::wstring AssocText(ASSOCSTR what, const wchar_t* verb) {
    DWORD size = 0;
    if (::AssocQueryStringW(ASSOCF_NOTRUNCATE, what, L".png", verb, nullptr, &size) != S_FALSE ||
        size == 0)
        return {};
    std::wstring text(size, L'\0');
    if (FAILED(::AssocQueryStringW(ASSOCF_NOTRUNCATE, what, L".png", verb, text.data(), &size)))
        return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}
struct FindTraits {
    using Handle = HANDLE;
    static Handle null() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { ::FindClose(h); }
};

ULONGLONG Ticks(const FILETIME& t) { return ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime; }
}  // namespace

void RemoveOldPictures(const std::wstring& folder) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const ULONGLONG day = 24ULL * 60 * 60 * 10000000;
    // Its own pictures and temporary files only; one the editor still
    // holds open stays for the next run.
    for (const wchar_t* pattern : {L"Screenshot *.png", L"~kestrix-*.tmp"}) {
        WIN32_FIND_DATAW found;
        UniqueHandle<FindTraits> find(
            ::FindFirstFileW(addons::LongPath(folder + L"\\" + pattern).c_str(), &found));
        if (!find) continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                Ticks(found.ftLastWriteTime) + day < Ticks(now))
                ::DeleteFileW(addons::LongPath(folder + L"\\" + found.cFileName).c_str());
        } while (::FindNextFileW(find.get(), &found));
    }
}

TEditor FindEditor() {
    for (const wchar_t* verb : {L"edit", L"open"}) {
        if (AssocText(ASSOCSTR_COMMAND, verb).empty()) continue;
        std::wstring name = AssocText(ASSOCSTR_FRIENDLYAPPNAME, verb);
        if (name.empty()) name = AssocText(ASSOCSTR_EXECUTABLE, verb);
        return {verb, name.empty() ? AssocText(ASSOCSTR_COMMAND, verb) : name};
    }
    return {};
}

std::wstring PictureFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) throw Exception("Cannot find the temporary folder");
    return std::wstring(temp) + L"Kestrix";
}

TOpenInEditorPlugin::TOpenInEditorPlugin(automation::TComObjectFactory& factory)
    : TPluginObject(factory, L"Open in image editor",
                    L"Opens the picture in the program Windows uses to edit PNG pictures",
                    CLSID_OpenInEditorOptions) {}

void TOpenInEditorPlugin::Run(IUnknown* imageStream, HWND parent) {
    RemoveOldPictures(PictureFolder());
    addons::TBitmapFile picture(imageStream);
    TEditor editor = FindEditor();
    if (editor.Verb.empty()) throw Exception(Utf8(kNoEditor));
    std::vector<BYTE> png = addons::EncodePicture(picture, addons::TImageFormat::Png);
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    wchar_t base[64];
    std::swprintf(base, 64, L"Screenshot %04u-%02u-%02u %02u-%02u-%02u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond);
    std::wstring file = addons::WriteNewFile(PictureFolder(), base, L".png", png);

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = parent;
    info.lpVerb = editor.Verb.c_str();
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        DWORD error = ::GetLastError();
        ::DeleteFileW(addons::LongPath(file).c_str());
        throw Exception("Cannot open the picture with " + Quoted(editor.Name) + ": " +
                        SysErrorMessage(error));
    }
}

}  // namespace open_in_editor

namespace addons {
void CreateAddonFactories() {
    using namespace open_in_editor;
    static TAddonFactory plugin(automation::CreateComObjectOf<TOpenInEditorPlugin>,
                                CLSID_OpenInEditor, "OpenInEditor",
                                "Kestrix plug-in: open in image editor", TAddonClassKind::Plugin);
    static TAddonFactory options(automation::CreateComObjectOf<TOpenInEditorOptions>,
                                 CLSID_OpenInEditorOptions, "OpenInEditorOptions",
                                 "Kestrix plug-in: open in image editor, options",
                                 TAddonClassKind::OptionsControl);
}
}  // namespace addons
