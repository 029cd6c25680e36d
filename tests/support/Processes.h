// Other processes for tests and benchmarks: starting programs of the build
// with their output captured, and finding processes and their windows.
#pragma once

#include "ui/Handles.h"

#include <string>
#include <vector>

namespace testing_support {

// A file of the build's bin folder, beside the running program.
std::string BinPath(const std::string& file);

class ChildProcess {
public:
    // Starts commandLine; its standard output goes to a file of its own.
    explicit ChildProcess(const std::wstring& commandLine);
    explicit ChildProcess(const std::string& commandLine);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&&) = default;
    // Ends the process if it still runs, and deletes the output file.
    ~ChildProcess();

    bool Started() const { return static_cast<bool>(process_); }
    HANDLE Handle() const { return process_.get(); }
    DWORD Id() const { return pid_; }
    // Waits for the end; its exit code, or -1 when it did not end in time.
    int Wait(DWORD timeoutMs);
    bool Running() const;
    void Kill();
    // What it wrote so far.
    std::string Output() const;

private:
    ui::KernelHandle process_;
    DWORD pid_ = 0;
    std::string outputPath_;
};

// The identifiers of the running processes with that file name (any case).
std::vector<DWORD> ProcessIdsNamed(const std::string& exeName);

// A top-level window of process pid with that class; visibleOnly skips
// hidden ones.
HWND WindowOfProcess(DWORD pid, const char* className, bool visibleOnly = false);

// A message box that process pid shows, waited for up to timeoutMs; null
// when none came.
HWND MessageBoxOf(DWORD pid, DWORD timeoutMs = 10000);
// What a message box says: the texts of its static controls.
std::wstring MessageBoxText(HWND box);

}  // namespace testing_support
