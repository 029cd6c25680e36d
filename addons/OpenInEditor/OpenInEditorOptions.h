// The Open-in-editor plug-in's page: which program the picture goes to.
#pragma once

#include "addons/OpenInEditor/OpenInEditor.h"
#include "addons/common/OptionsControl.h"

namespace open_in_editor {

enum : int { idProgram = 101 };

class TOpenInEditorOptions : public addons::TOptionsControl {
public:
    using TOptionsControl::TOptionsControl;

protected:
    void CreateControls() override;
    // Nothing to choose; ready when there is a program to open the picture.
    bool ApplySettings(IKestrixPlugin* plugin) override;
};

}  // namespace open_in_editor
