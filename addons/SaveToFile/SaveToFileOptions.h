// The options page of the Save-to-file plug-in: folder, file-name pattern
// with a preview of the next name, format and JPEG quality.
#pragma once

#include "addons/SaveToFile/SaveToFile.h"
#include "addons/common/OptionsControl.h"

namespace save_to_file {

// Control identifiers of the page.
enum : int {
    idFolder = 101,
    idBrowse,
    idPattern,
    idFields,
    idPreview,
    idFormat,
    idQuality,
    idQualitySpin,
    idQualityLabel,
};

class TSaveToFileOptions : public addons::TOptionsControl {
public:
    explicit TSaveToFileOptions(automation::TComObjectFactory& factory);

protected:
    void CreateControls() override;
    void Command(int id, int code) override;
    bool ApplySettings(IKestrixPlugin* plugin) override;

private:
    void ReadControls();
    void UpdatePreview();
    void Browse();

    TSaveToFileSettings settings_;
    std::wstring qualityText_;
    bool qualityIsNumber_ = true;
    int validQuality_;
};

}  // namespace save_to_file
