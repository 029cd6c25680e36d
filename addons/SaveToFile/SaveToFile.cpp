#include "addons/SaveToFile/SaveToFile.h"

#include "addons/SaveToFile/FileNamePattern.h"
#include "addons/SaveToFile/SaveToFileOptions.h"
#include "addons/common/AddonSettings.h"
#include "addons/common/Files.h"

#include <shlobj.h>

using namespace ui;
using addons::TImageFormat;

namespace save_to_file {

namespace {
// {57891EC4-2451-49ED-8969-4A0A6706800C}: the plug-in object itself, for the
// options page of the same DLL.
const IID IID_SaveToFileSelf = {
    0x57891EC4, 0x2451, 0x49ED, {0x89, 0x69, 0x4A, 0x0A, 0x67, 0x06, 0x80, 0x0C}};

std::wstring PicturesFolder() {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_MYPICTURES | CSIDL_FLAG_CREATE, nullptr, 0,
                                     path)))
        return path;
    return {};
}

bool IsFullPath(const std::wstring& p) {
    auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    return (p.size() >= 3 && iswalpha(p[0]) && p[1] == L':' && slash(p[2])) ||
           (p.size() > 2 && slash(p[0]) && slash(p[1]));
}
}  // namespace

TSaveToFileSettings TSaveToFileSettings::Load() {
    addons::TAddonKey key(kAddonName, false);
    TSaveToFileSettings s;
    s.Folder = key.ReadString(L"Folder", PicturesFolder());
    s.Pattern = key.ReadString(L"FileName", L"Screenshot {date} {time}");
    DWORD format = key.ReadNumber(L"Format", 0);
    s.Format = static_cast<TImageFormat>(format < addons::kImageFormatCount ? format : 0);
    DWORD quality = key.ReadNumber(L"JpegQuality", 90);
    s.JpegQuality = quality >= 1 && quality <= 100 ? static_cast<int>(quality) : 90;
    return s;
}

void TSaveToFileSettings::Store() const {
    addons::TAddonKey key(kAddonName, true);
    key.WriteString(L"Folder", Folder);
    key.WriteString(L"FileName", Pattern);
    key.WriteNumber(L"Format", static_cast<DWORD>(Format));
    key.WriteNumber(L"JpegQuality", static_cast<DWORD>(JpegQuality));
}

std::wstring TSaveToFileSettings::Problem() const {
    if (Folder.find_first_not_of(L' ') == std::wstring::npos)
        return L"Choose the folder the pictures go to.";
    if (!IsFullPath(Folder))
        return L"The folder \"" + Folder + L"\" is not a full path, such as C:\\Pictures.";
    if (Format == TImageFormat::Jpeg && (JpegQuality < 1 || JpegQuality > 100))
        return L"The JPEG quality must be a number from 1 to 100.";
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    std::wstring problem = addons::FileNameProblem(ExpandPattern(Pattern, now, NextCounter()),
                                                   FormatExtension(Format));
    if (!problem.empty()) return problem;
    try {
        addons::CreateFolderTree(Folder);
    } catch (const std::exception& e) {
        return WideFromUtf8(e.what());
    }
    return {};
}

DWORD NextCounter() { return addons::TAddonKey(kAddonName, false).ReadNumber(L"Counter", 1); }

void StoreCounter(DWORD value) { addons::TAddonKey(kAddonName, true).WriteNumber(L"Counter", value); }

// ---- the plug-in -------------------------------------------------------------

void* TSaveToFilePlugin::GetInterface(REFIID iid) noexcept {
    if (iid == IID_SaveToFileSelf) return static_cast<IKestrixPlugin*>(this);
    return TAutoObject::GetInterface(iid);
}

TSaveToFilePlugin* TSaveToFilePlugin::From(IUnknown* plugin) {
    ComPtr<IKestrixPlugin> self;
    if (!plugin || FAILED(plugin->QueryInterface(IID_SaveToFileSelf, self.put_void())) || !self)
        return nullptr;
    return static_cast<TSaveToFilePlugin*>(self.get());
}

TSaveToFilePlugin::TSaveToFilePlugin(automation::TComObjectFactory& factory)
    : TPluginObject(factory, L"Save to file",
                    L"Saves the picture as a PNG, JPEG, BMP, GIF or TIFF file in a folder "
                    L"of your choice",
                    CLSID_SaveToFileOptions) {}

void TSaveToFilePlugin::Run(IUnknown* imageStream, HWND) {
    TSaveToFileSettings settings = settings_ ? *settings_ : TSaveToFileSettings::Load();
    // The picture first: one that cannot be read leaves no folder behind.
    std::vector<BYTE> encoded = addons::EncodePicture(addons::TBitmapFile(imageStream),
                                                      settings.Format, settings.JpegQuality);
    std::wstring problem = settings.Problem();
    if (!problem.empty()) throw Exception(Utf8(problem));
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    DWORD counter = NextCounter();
    lastFile_ = addons::WriteNewFile(settings.Folder,
                                     ExpandPattern(settings.Pattern, now, counter),
                                     FormatExtension(settings.Format), encoded);
    if (UsesCounter(settings.Pattern)) StoreCounter(counter + 1);
}

}  // namespace save_to_file

namespace addons {
void CreateAddonFactories() {
    using namespace save_to_file;
    static TAddonFactory plugin(automation::CreateComObjectOf<TSaveToFilePlugin>, CLSID_SaveToFile,
                                "SaveToFile", "Kestrix plug-in: save to file",
                                TAddonClassKind::Plugin);
    static TAddonFactory options(automation::CreateComObjectOf<TSaveToFileOptions>,
                                 CLSID_SaveToFileOptions, "SaveToFileOptions",
                                 "Kestrix plug-in: save to file, options",
                                 TAddonClassKind::OptionsControl);
}
}  // namespace addons
