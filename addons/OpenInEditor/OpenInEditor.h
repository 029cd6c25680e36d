// KestrixOpenInEditor.dll: the plug-in that hands the picture to the
// user's image editor: saved as PNG in a per-user temporary folder and
// opened through the shell with the verb "edit", else "open".
#pragma once

#include "addons/common/ClassId.h"
#include "addons/common/PluginObject.h"

#include <string>

namespace open_in_editor {

// The plug-in, "Kestrix.OpenInEditor", and its page, "Kestrix.OpenInEditorOptions".
inline constexpr CLSID CLSID_OpenInEditor = addons::ClassId("{EBF88A31-EC36-482D-8518-3E012816A534}");
inline constexpr CLSID CLSID_OpenInEditorOptions =
    addons::ClassId("{B89D3E6A-42EA-4D2E-BB5E-65C405F1603E}");

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
