// KestrixSaveToFile.dll: the plug-in that saves the picture as an image file
// (PNG, JPEG, BMP, GIF or TIFF) in a folder the user chooses, and its options
// page. The choices are kept per user under
// HKCU\Software\Orvane\Kestrix\Addons\SaveToFile.
#pragma once

#include "addons/common/ClassId.h"
#include "addons/common/ImageFile.h"
#include "addons/common/PluginObject.h"

#include <optional>
#include <string>

namespace save_to_file {

// The plug-in, "Kestrix.SaveToFile", and its options page, "Kestrix.SaveToFileOptions".
inline constexpr CLSID CLSID_SaveToFile = addons::ClassId("{EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}");
inline constexpr CLSID CLSID_SaveToFileOptions =
    addons::ClassId("{8ADBCEE3-9F03-409B-989D-BF3CA9CE9EC9}");

inline constexpr char kAddonName[] = "SaveToFile";

struct TSaveToFileSettings {
    std::wstring Folder;
    std::wstring Pattern;
    addons::TImageFormat Format = addons::TImageFormat::Png;
    int JpegQuality = 90;

    // The user's choices, or the defaults: the Pictures folder, a name of
    // date and time, PNG.
    static TSaveToFileSettings Load();
    void Store() const;
    // Why the choices cannot be used, or empty. Creates the folder when it
    // is missing, as the check that it can be made.
    std::wstring Problem() const;
};

// The running number of {counter}, stored with the settings.
DWORD NextCounter();
void StoreCounter(DWORD value);

class TSaveToFilePlugin : public addons::TPluginObject {
public:
    explicit TSaveToFilePlugin(automation::TComObjectFactory& factory);

    // The plug-in of this DLL behind an interface, or null.
    static TSaveToFilePlugin* From(IUnknown* plugin);
    // What SaveSettings handed over; without it Execute uses the stored
    // choices.
    void SetSettings(const TSaveToFileSettings& settings) { settings_ = settings; }
    const std::wstring& LastFile() const { return lastFile_; }

protected:
    void Run(IUnknown* imageStream, HWND parent) override;
    void* GetInterface(REFIID iid) noexcept override;

private:
    std::optional<TSaveToFileSettings> settings_;
    std::wstring lastFile_;
};

}  // namespace save_to_file
