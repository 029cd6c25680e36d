// KestrixOpenInEditor.dll: the plug-in that hands the picture to the
// user's image editor: saved as PNG in a per-user temporary folder and
// opened through the shell with the verb "edit", else "open".
#pragma once

#include "addons/common/PluginObject.h"

#include <string>

namespace open_in_editor {

// {EBF88A31-EC36-482D-8518-3E012816A534}: the plug-in, "Kestrix.OpenInEditor".
inline constexpr CLSID CLSID_OpenInEditor = {
    0xEBF88A31, 0xEC36, 0x482D, {0x85, 0x18, 0x3E, 0x01, 0x28, 0x16, 0xA5, 0x34}};
// {B89D3E6A-42EA-4D2E-BB5E-65C405F1603E}: its page, "Kestrix.OpenInEditorOptions".
inline constexpr CLSID CLSID_OpenInEditorOptions = {
    0xB89D3E6A, 0x42EA, 0x4D2E, {0xBB, 0x5E, 0x65, 0xC4, 0x05, 0xF1, 0x60, 0x3E}};

// The program the shell would use for a PNG picture, and the verb.
struct TEditor {
    std::wstring Verb;  // "edit" or "open"; empty when there is none
    std::wstring Name;  // the program's friendly name, or its file
};
TEditor FindEditor();

inline constexpr wchar_t kNoEditor[] =
    L"No program is set up to edit or open PNG pictures. Choose one for PNG files in "
    L"Windows (Default apps), then try again.";

// Where the pictures wait for the editor: %TEMP%\Kestrix.
std::wstring PictureFolder();
// Removes the add-on's own pictures there that are older than a day; each
// run does, so that the folder does not grow for ever.
void RemoveOldPictures(const std::wstring& folder);

class TOpenInEditorPlugin : public addons::TPluginObject {
public:
    explicit TOpenInEditorPlugin(automation::TComObjectFactory& factory);

protected:
    void Run(IUnknown* imageStream, HWND parent) override;
};

}  // namespace open_in_editor
