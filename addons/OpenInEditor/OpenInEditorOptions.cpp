#include "addons/OpenInEditor/OpenInEditorOptions.h"

namespace open_in_editor {

void TOpenInEditorOptions::CreateControls() {
    TEditor editor = FindEditor();
    Add(L"STATIC", L"The picture is saved as a PNG file and opened with:", SS_NOPREFIX, -1, 12,
        14, 518, 18);
    Add(L"STATIC", editor.Verb.empty() ? L"(no program)" : editor.Name.c_str(), SS_NOPREFIX,
        idProgram, 30, 38, 500, 18);
    Add(L"STATIC",
        L"The file stays in your temporary folder. To use another program, choose it for PNG "
        L"files in Windows (Default apps).",
        SS_NOPREFIX, -1, 12, 66, 518, 36);
    Add(L"STATIC", editor.Verb.empty() ? kNoEditor : L"", SS_NOPREFIX, addons::kMessageId, 12,
        112, 518, 48);
}

bool TOpenInEditorOptions::ApplySettings(IKestrixPlugin*) {
    TEditor editor = FindEditor();
    SetItemText(idProgram, editor.Verb.empty() ? L"(no program)" : editor.Name);
    SetMessage(editor.Verb.empty() ? kNoEditor : L"");
    return !editor.Verb.empty();
}

}  // namespace open_in_editor
