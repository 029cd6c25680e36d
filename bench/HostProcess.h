// The memory of a Wine process as its host sees it. Under Wine the
// process's own figures are of little use (GetProcessMemoryInfo has no
// private bytes, and Z:\proc\self is the wineserver's entry, not the
// caller's), so the figures are read from the host's /proc entry of the
// process that runs the image, found by the image's Windows path that Wine
// keeps as the host process's first argument.
#pragma once

#include "ui/Handles.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

struct HostMemory {
    long privateKb = -1;  // Private_Dirty
    long rssKb = -1;      // resident set
    bool Read() const { return privateKb >= 0 && rssKb >= 0; }
};

inline std::string ReadHostFile(const std::string& path) {
    ui::FileHandle f(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!f) return {};
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
    return out;
}

inline long HostField(const std::string& text, const char* name) {
    const size_t p = text.find(name);
    return p == std::string::npos ? -1
                                  : std::strtol(text.c_str() + p + std::strlen(name), nullptr, 10);
}

// When the host started process dir (in clock ticks since boot), or -1.
inline long long HostStartTime(const std::string& dir) {
    const std::string stat = ReadHostFile(dir + "\\stat");
    // The name in parentheses may hold spaces; the fields after it do not.
    size_t p = stat.rfind(')');
    if (p == std::string::npos) return -1;
    // starttime is field 22; field 3 starts after the blank after ')'.
    for (int field = 3; field <= 22; ++field) {
        p = stat.find(' ', p + 1);
        if (p == std::string::npos) return -1;
    }
    return std::strtoll(stat.c_str() + p + 1, nullptr, 10);
}

// The image a host process runs, as a Windows path, from its first argument:
// a process started by a Wine process has the Windows path there, one
// started from the host (`wine /path/x.exe`) the host path as typed. A
// relative host path cannot be told from another folder's: empty.
inline std::string HostImagePath(const std::string& cmdline) {
    std::string image = cmdline.substr(0, cmdline.find('\0'));
    if (image.size() >= 2 && image.front() == '"' && image.back() == '"')
        image = image.substr(1, image.size() - 2);
    if (!image.empty() && image[0] == '/') {
        for (char& c : image)
            if (c == '/') c = '\\';
        return "Z:" + image;
    }
    return image.size() > 2 && image[1] == ':' ? image : std::string();
}

// The host's figures of the process running the image at windowsPath (a
// full path, any case). Other sessions may run the same image from other
// folders; should two run it from this one, the one started last counts,
// which is the one just started by the caller.
inline HostMemory HostMemoryOf(const std::string& windowsPath) {
    HostMemory m;
    WIN32_FIND_DATAA fd;
    HANDLE find = ::FindFirstFileA("Z:\\proc\\*", &fd);
    if (find == INVALID_HANDLE_VALUE) return m;
    std::string best;
    long long bestStart = -1;
    do {
        if (fd.cFileName[0] < '0' || fd.cFileName[0] > '9') continue;
        const std::string dir = std::string("Z:\\proc\\") + fd.cFileName;
        const std::string cmd = ReadHostFile(dir + "\\cmdline");
        const std::string image = HostImagePath(cmd);
        if (image.size() != windowsPath.size() ||
            ::lstrcmpiA(image.c_str(), windowsPath.c_str()) != 0)
            continue;
        const long long start = HostStartTime(dir);
        if (best.empty() || start > bestStart) {
            best = dir;
            bestStart = start;
        }
    } while (::FindNextFileA(find, &fd));
    ::FindClose(find);
    if (best.empty()) return m;
    const std::string roll = ReadHostFile(best + "\\smaps_rollup");
    m.privateKb = HostField(roll, "Private_Dirty:");
    m.rssKb = HostField(roll, "Rss:");
    return m;
}

// The same for the calling process, while no later one runs its image.
inline HostMemory OwnHostMemory() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return HostMemoryOf(path);
}

}  // namespace bench
