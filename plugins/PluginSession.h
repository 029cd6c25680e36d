// One plug-in's turn on a page: its instance, its options object in an OLE
// container, and the contract's calls in the order the wizard makes them,
// each inside a fault frame. The wizard and the plug-in host both run their
// plug-ins through it, so a plug-in tried in the host meets what it meets
// in the program.
#pragma once

#include "plugins/KestrixCommUnit.h"
#include "plugins/kestrix_TLB.h"
#include "ui/ForeignCall.h"
#include "ui/ForeignWindows.h"
#include "ui/OleCtnrs.h"

#include <functional>
#include <string>
#include <vector>

// A plug-in as a session calls it: where it stands in its list (or -1),
// the name it is known by, and its classes.
struct PluginTurn {
    int row = -1;
    std::string name;
    PluginEntry entry{};
};

class TPluginSession {
public:
    explicit TPluginSession(ui::TOleContainer& container);
    // The page and the instance go, each inside the frame.
    ~TPluginSession();
    TPluginSession(const TPluginSession&) = delete;
    TPluginSession& operator=(const TPluginSession&) = delete;

    // Told before each call into a plug-in's code (its name and the call),
    // and with an empty name once the call is over.
    PluginCallNote OnCall;
    // Each contract call and its outcome, one line each.
    std::function<void(const std::string& line)> OnTrace;
    // A plug-in faulted: told whose fault it was before the session raises
    // the message that says it was turned off.
    std::function<void(const PluginTurn& faulted, const ui::EForeignFault& fault)> OnFault;

    // Tears down the page shown (a fault in that is its own plug-in's),
    // then sets up turn's plug-in: a new instance, its options object in
    // the container, SetPlugin and DoVerb. Raises at the first failure;
    // Ready() says whether every step got through.
    void Show(const PluginTurn& turn);
    // Tears down the page and lets the instance go.
    void Close();
    // SaveSettings: whether its Result succeeded. Raises a failing status.
    bool SaveSettings();
    // Execute with the picture: whether its Result succeeded. What the
    // picture is goes into the trace.
    bool Execute(IStream* picture, HWND owner, const std::string& what = {});
    void Notify(TNotifyMessages message);

    bool Ready() const { return ready_; }
    // The plug-in whose instance and page the session holds; row -1 when
    // none.
    const PluginTurn& Current() const { return current_; }
    // A plug-in that faulted is never called again in this session.
    bool Dropped(const CLSID& plugin) const;
    bool HasPage() const { return container_.HasObject(); }

    // The instance the page belongs to.
    ui::ComPtr<IKestrixPlugin> Plugin;

private:
    template <class F>
    decltype(auto) Call(const PluginTurn& who, const char* call, F&& f);
    [[noreturn]] void Drop(const PluginTurn& who, const ui::EForeignFault& fault);
    // Turns the plug-in off without raising; gives the message to show.
    std::string TurnOff(const PluginTurn& who, const ui::EForeignFault& fault) noexcept;
    // A fault in a window of the current plug-in outside any call of ours.
    void WindowFault(const ui::EForeignFault& fault) noexcept;
    void Trace(const std::string& line);
    ui::ComPtr<IKestrixPluginOptions> Options();

    ui::TOleContainer& container_;
    PluginTurn current_;
    bool ready_ = false;
    std::vector<CLSID> dropped_;
    // Which turn the container's object belongs to, for faults it reports
    // later.
    std::vector<PluginTurn> pages_;
    // The current plug-in's windows, each message to them in a frame.
    ui::TForeignWindows windows_;
    int calls_ = 0;
};

// "0x80004005"
std::string HexStatus(HRESULT hr);

// Whether any plug-in faulted in this process: the libraries of plug-ins
// are then never asked again whether they can be unloaded, since a faulted
// one answers from a state nobody can trust.
bool PluginFaultedInThisRun() noexcept;
void NotePluginFault() noexcept;
