// Registry isolation for tests: a predefined key redirected to a fresh
// private key, or a real key saved and put back.
#pragma once

#include "ui/Handles.h"

#include <string>

namespace testing_support {

// Redirects a predefined key (HKEY_CURRENT_USER, HKEY_CLASSES_ROOT) of this
// process to an empty key of its own for the scope, then deletes that key.
class RedirectedKey {
public:
    explicit RedirectedKey(HKEY predefined);
    RedirectedKey(const RedirectedKey&) = delete;
    RedirectedKey& operator=(const RedirectedKey&) = delete;
    ~RedirectedKey();
    // The real path of the private key under HKEY_CURRENT_USER.
    const std::string& Path() const { return path_; }

private:
    HKEY predefined_;
    std::string path_;
};

// Copies HKEY_CURRENT_USER\path aside and restores it (or its absence) at
// the end of the scope, for tests that must use the real key because
// another process reads it.
class SavedKey {
public:
    explicit SavedKey(const std::string& path);
    SavedKey(const SavedKey&) = delete;
    SavedKey& operator=(const SavedKey&) = delete;
    ~SavedKey();

private:
    std::string path_;
    std::string backup_;
    bool existed_ = false;
};

// A string value (the default one without a name), or "<missing>".
std::string RegistryString(HKEY root, const std::string& path, const char* name = nullptr);
// The same read wide, for paths that the code page cannot spell.
std::wstring RegistryPath(HKEY root, const std::string& path, const char* name = nullptr);
bool KeyExists(HKEY root, const std::string& path);

// Gives a key the access rules of an SDDL text; false when that is refused.
bool SetKeyDacl(HKEY key, const char* sddl);
// The same for root\path, creating the key first when create is set.
bool SetKeyDacl(HKEY root, const std::string& path, const char* sddl, bool create = true);

// Deletes HKEY_CURRENT_USER\path with everything under it.
void DeleteUserKey(const std::string& path);

}  // namespace testing_support
