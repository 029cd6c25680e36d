// Listing time per installed plug-in: the directory's GetPluginList (and the
// split of its text) against a bare enumeration of the same registry key.
// HKEY_CURRENT_USER is redirected to a scratch key for the run.
#include "bench/BenchTiming.h"
#include "automation/ComObj.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/ProgramServer.h"

#include <algorithm>
#include <cstdio>
#include <string>

using ui::ComPtr;

using namespace bench;

namespace {

size_t BareEnumeration() {
    ui::RegKey key;
    if (::RegOpenKeyA(HKEY_CURRENT_USER, kPluginsKey, key.put()) != ERROR_SUCCESS) return 0;
    char name[261];
    size_t total = 0;
    for (DWORD i = 0; ::RegEnumKeyA(key.get(), i, name, sizeof name) == ERROR_SUCCESS; ++i)
        total += strlen(name);
    return total;
}

}  // namespace

int main() {
    // The program's server and directory class, as the program main has them.
    testing_support::StartProgramServer();
    ::OleInitialize(nullptr);
    const std::string scratch =
        "Software\\KestrixBench\\list-" + std::to_string(::GetCurrentProcessId());
    ui::RegKey root;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      root.put(), nullptr);
    ::RegOverridePredefKey(HKEY_CURRENT_USER, root.get());

    ComPtr<IKestrixObject> directory;
    KestrixObjectFactory().CreateInstance(nullptr, IID_IKestrixObject, directory.put_void());

    std::printf("list: the directory's plug-in list against a bare enumeration of the key "
                "(medians of 9 batches; ratios list / bare enumeration, batch by batch)\n");
    std::printf("%8s %14s %14s %14s %12s %28s\n", "plug-ins", "bare enum ms", "list ms",
                "list+split ms", "us/plug-in", "ratio median (min, max)");
    int installed = 0;
    for (int count : {1, 10, 100, 1000, 3000}) {
        for (; installed < count; ++installed) {
            GUID guid;
            ::CoCreateGuid(&guid);
            ui::RegKey key;
            ::RegCreateKeyExA(HKEY_CURRENT_USER,
                              (std::string(kPluginsKey) + "\\" + automation::GuidToString(guid)).c_str(),
                              0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
        }
        // Batches interleave the three, so that a busy machine shifts all
        // of them alike.
        int repeat = count >= 1000 ? 3 : 30;
        Runs list, split;
        for (int batch = 0; batch < 9; ++batch) {
            const double bare = Time(repeat, [] { BareEnumeration(); });
            list.Add(Time(repeat, [&] {
                         ui::Bstr text;
                         directory->GetPluginList(text.put());
                     }),
                     bare);
            split.Add(Time(repeat, [&] {
                          ui::Bstr text;
                          directory->GetPluginList(text.put());
                          SplitPluginList(text.get());
                      }),
                      bare);
        }
        const Spread r = list.Ratio();
        std::printf("%8d %14.3f %14.3f %14.3f %12.2f %10.2f (%.2f, %.2f)\n", count,
                    list.Base() * 1e3, list.Cost() * 1e3, split.Cost() * 1e3,
                    split.Cost() * 1e6 / count, r.median, r.min, r.max);
    }

    directory.reset();
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    root.reset();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, scratch.c_str());
    ::OleUninitialize();
    return 0;
}
