// For the add-on tests: installing an add-on DLL, bitmap files to hand it,
// its options page shown on a plain window, and a scratch folder.
#pragma once

#include "kestrix.h"
#include "ui/Handles.h"

#include <functional>
#include <string>
#include <vector>

namespace addon_tests {

// regsvr32 /s (with /u to uninstall) on a DLL beside the test; its exit code.
int Regsvr32(const std::string& dll, bool install);

// A complete bitmap file of w x h pixels at 1, 4, 8, 16 (5-5-5), 24 or 32
// bits; pixel(x, y) gives 0xRRGGBB, and up to 8 bits the palette index,
// whose colour is PaletteColour(index).
std::vector<BYTE> BitmapFile(int w, int h, int bits, const std::function<DWORD(int, int)>& pixel);
DWORD PaletteColour(int index);

// Execute on a plug-in with the bitmap file; the call status, Result in result.
HRESULT Execute(IKestrixPlugin* plugin, const std::vector<BYTE>& bitmapFile, HRESULT& result);

// An options object shown through DoVerb(OLEIVERB_SHOW) as a child of a
// plain window of the test, with the plug-in handed over.
class ShownOptions {
public:
    ShownOptions(const CLSID& options, IKestrixPlugin* plugin);
    ~ShownOptions();
    IKestrixPluginOptions* operator->() const { return options_.get(); }
    HWND Page() const { return page_; }
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text);
    // SaveSettings: the call status, and Result in result.
    HRESULT SaveSettings(HRESULT& result);

private:
    ui::Window host_;
    ui::ComPtr<IKestrixPluginOptions> options_;
    ui::ComPtr<IOleObject> object_;
    HWND page_ = nullptr;
};

// A fresh folder under the temporary folder, deleted with all it holds at
// the end of the scope.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name = L"kestrix-addon-test");
    ~ScratchFolder();
    const std::wstring& Path() const { return path_; }
    // The names of the files in a folder (default: this one).
    std::vector<std::wstring> Files(const std::wstring& folder = {}) const;

private:
    std::wstring path_;
};

// HKEY_CLASSES_ROOT\.png pointing at a class of the test whose verb runs
// command; removed again at the end. The machine must have none of its own.
class PngAssociation {
public:
    PngAssociation(const char* verb, const std::wstring& command);
    ~PngAssociation();
};

// The description of the error the last failing call set.
std::wstring LastErrorText();

void DeleteTree(const std::wstring& path);
std::string ReadFile(const std::wstring& path);

}  // namespace addon_tests
