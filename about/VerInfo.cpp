#include "about/VerInfo.h"

#include <cstdio>
#include <cstring>

namespace {
// The longest query path the reader builds.
constexpr size_t kMaxPath = 255;
}

TVersionInfo::TVersionInfo(const std::wstring& FileName) {
    FPath.reset(new wchar_t[FileName.size() + 1]);
    std::memcpy(FPath.get(), FileName.c_str(), (FileName.size() + 1) * sizeof(wchar_t));
    ReadVersionInfo();
}

TVersionInfo::~TVersionInfo() = default;

void TVersionInfo::ReadVersionInfo() {
    FLoaded = false;
    FInfoData.reset();
    FInfoSize = ::GetFileVersionInfoSizeW(FPath.get(), &FInfoHandle);
    if (FInfoSize == 0) return;
    FInfoData.reset(new BYTE[FInfoSize]);
    // The wide call reserves room for the 8-bit copies that VerQueryValueA
    // makes of the strings, as the 8-bit one does.
    FLoaded = ::GetFileVersionInfoW(FPath.get(), FInfoHandle, FInfoSize, FInfoData.get()) != FALSE;
}

bool TVersionInfo::GetTranslation(WORD& Language, WORD& CodePage) const {
    if (!FLoaded) return false;
    void* p = nullptr;
    UINT len = 0;
    char path[] = "\\VarFileInfo\\Translation";
    if (!::VerQueryValueA(FInfoData.get(), path, &p, &len) || !p || len < 2 * sizeof(WORD))
        return false;
    WORD pair[2];
    std::memcpy(pair, p, sizeof pair);
    Language = pair[0];
    CodePage = pair[1];
    return true;
}

std::string TVersionInfo::GetTranslationCode() const {
    WORD language = 0, codePage = 0;
    if (!GetTranslation(language, codePage)) return std::string();
    char code[9];
    std::snprintf(code, sizeof code, "%08lX",
                  static_cast<unsigned long>((DWORD(language) << 16) | codePage));
    return code;
}

std::string TVersionInfo::GetValue(const std::string& Key) const {
    if (!FLoaded) return std::string();
    std::string path = "\\StringFileInfo\\" + GetTranslationCode() + "\\" + Key;
    // A cut-off path could name another entry; a path that does not fit
    // names none.
    if (path.size() > kMaxPath || path.find('\0') != std::string::npos) return std::string();
    void* p = nullptr;
    UINT len = 0;
    if (!::VerQueryValueA(FInfoData.get(), path.c_str(), &p, &len) || !p) return std::string();
    const char* text = static_cast<const char*>(p);
    // Never read past the data, even if the string lacks its terminator.
    const BYTE* begin = FInfoData.get();
    const BYTE* end = begin + FInfoSize;
    const BYTE* at = static_cast<const BYTE*>(p);
    size_t room = (at >= begin && at < end) ? static_cast<size_t>(end - at) : len;
    return std::string(text, strnlen(text, room));
}
