// Reads string entries of a file's version resource, from the string table
// of its first translation.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

class TVersionInfo {
public:
    // Loads the version data once; a file without any just reads as empty.
    // The file name is wide and whole; the queries are 8-bit.
    explicit TVersionInfo(const std::wstring& FileName);
    virtual ~TVersionInfo();
    TVersionInfo(const TVersionInfo&) = delete;
    TVersionInfo& operator=(const TVersionInfo&) = delete;

    // The first language / code-page pair; false when there is none.
    bool GetTranslation(WORD& Language, WORD& CodePage) const;
    // That pair as eight upper-case hex digits ("040904E4"), or "".
    std::string GetTranslationCode() const;
    // The entry Key of the first translation's string table, or "".
    std::string GetValue(const std::string& Key) const;
    std::string GetFileVersion() const { return GetValue("FileVersion"); }

    bool Loaded() const { return FLoaded; }

private:
    void ReadVersionInfo();

    std::unique_ptr<wchar_t[]> FPath;
    bool FLoaded = false;
    DWORD FInfoSize = 0;
    std::unique_ptr<BYTE[]> FInfoData;
    DWORD FInfoHandle = 0;
};
