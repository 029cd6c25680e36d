// Calls of the running program's directory object from other processes:
// calls per second of one client alone and of eight clients at once,
// against the same call made in-process. Afterwards the program must still
// answer and hold no object (it then closes without asking).
#include "bench/BenchTiming.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/Processes.h"
#include "tests/support/ProgramServer.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

using namespace bench;

namespace {

constexpr int kCalls = 1000;
constexpr int kClients = 8;

std::string Client() { return "\"" + BinPath("kestrix_client.exe") + "\""; }

bool WaitFor(HWND (*find)(DWORD), DWORD pid, DWORD ms) {
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < ms; ::Sleep(20))
        if (find(pid)) return true;
    return false;
}

HWND MainWindow(DWORD pid) { return WindowOfProcess(pid, "TKestrixWnd"); }

// Runs clients making kCalls calls each, all released at once; the calls
// answered and the longest client's time in seconds.
bool RunClients(int count, int& answered, double& seconds) {
    std::string go = "kestrix-bench-go-" + std::to_string(::GetCurrentProcessId()) + "-" +
                     std::to_string(count);
    ui::KernelHandle event(::CreateEventA(nullptr, TRUE, FALSE, go.c_str()));
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(std::make_unique<ChildProcess>(Client() + " calls " +
                                                         std::to_string(kCalls) + " " + go));
    // Let every client get its object first, so that only calls are timed.
    ::Sleep(2000);
    ::SetEvent(event.get());
    answered = 0;
    seconds = 0;
    bool ok = true;
    for (auto& client : clients) {
        if (client->Wait(300000) != 0) ok = false;
        int n = 0;
        double ms = 0;
        if (std::sscanf(client->Output().c_str(), "calls %d %lf", &n, &ms) == 2) {
            answered += n;
            seconds = std::max(seconds, ms / 1000.0);
        }
    }
    return ok;
}

// Calls per second of the same call made in-process.
double InProcessRate() {
    ui::ComPtr<IKestrixObject> local;
    KestrixObjectFactory().CreateInstance(nullptr, IID_IKestrixObject, local.put_void());
    const double seconds = Once([&] {
        for (int i = 0; i < kCalls; ++i) {
            ui::Bstr list;
            local->GetPluginList(list.put());
        }
    });
    return kCalls / seconds;
}

}  // namespace

int main() {
    // The program's server and directory class, as the program main has them.
    testing_support::StartProgramServer();
    ::OleInitialize(nullptr);

    ChildProcess program("\"" + BinPath("kestrix.exe") + "\"");
    if (!WaitFor(MainWindow, program.Id(), 30000)) {
        std::printf("the program did not start\n");
        return 1;
    }

    // A run: the in-process baseline, one client, then eight at once.
    bool ok = true;
    Runs answered, scaling, inProcess, single;
    for (int run = 0; run < kRuns; ++run) {
        const double local = InProcessRate();
        int answered1 = 0, answered8 = 0;
        double seconds1 = 0, seconds8 = 0;
        ok = RunClients(1, answered1, seconds1) && ok;
        ok = RunClients(kClients, answered8, seconds8) && ok;
        const double rate1 = seconds1 > 0 ? answered1 / seconds1 : 0;
        const double rate8 = seconds8 > 0 ? answered8 / seconds8 : 0;
        answered.Add(answered8, kClients * kCalls);
        single.Add(answered1, kCalls);
        scaling.Add(rate8, rate1);
        inProcess.Add(local, rate8);
    }

    ChildProcess probe(Client() + " list");
    bool responsive = probe.Wait(30000) == 0;
    ::PostMessageA(MainWindow(program.Id()), WM_CLOSE, 0, 0);
    bool noObjectsLeft = program.Wait(10000) == 0;

    std::printf("in-process calls/s               %10.0f (median)\n", inProcess.Cost());
    std::printf("1 client:  %5.0f of %5d answered, %10.0f calls/s (medians)\n", single.Cost(), kCalls,
                scaling.Base());
    std::printf("%d clients: %5.0f of %5d answered, %10.0f calls/s across processes (medians)\n",
                kClients, answered.Cost(), kClients * kCalls, scaling.Cost());
    Report("automation-8-clients-answered", "share of the 8 clients' calls answered",
           answered.Ratio(), 1.0, Bound::AtLeast);
    Report("", "share of one client's calls answered", single.Ratio());
    Report("", "ratio calls/s 8 clients / 1 client", scaling.Ratio());
    Report("", "ratio calls/s in-process / 8 clients", inProcess.Ratio());
    std::printf("still answering afterwards: %s; closed without objects left: %s\n",
                responsive ? "yes" : "NO", noObjectsLeft ? "yes" : "NO");
    ::OleUninitialize();
    return ok && responsive && noObjectsLeft ? 0 : 1;
}
