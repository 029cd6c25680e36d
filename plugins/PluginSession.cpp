#include "plugins/PluginSession.h"

#include "automation/ComObj.h"
#include "plugins/PluginDirectory.h"
#include "ui/Exception.h"
#include "ui/Forms.h"
#include "ui/Strings.h"

#include <algorithm>
#include <type_traits>
#include <cstdio>

using namespace ui;

std::string HexStatus(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

namespace {
volatile LONG faultsInThisRun = 0;
}  // namespace

bool PluginFaultedInThisRun() noexcept { return faultsInThisRun != 0; }

void NotePluginFault() noexcept { ::InterlockedIncrement(&faultsInThisRun); }

TPluginSession::TPluginSession(TOleContainer& container) : container_(container) {
    container_.OnObjectFault = [this](const EForeignFault& fault) {
        const intptr_t tag = container_.FaultedTag();
        if (tag > 0 && static_cast<size_t>(tag) <= pages_.size()) Drop(pages_[tag - 1], fault);
    };
    windows_.OnFault = [this](const EForeignFault& fault) { WindowFault(fault); };
}

TPluginSession::~TPluginSession() {
    container_.OnObjectFault = nullptr;
    Guarded([this] { Close(); });
}

void TPluginSession::Trace(const std::string& line) {
    if (OnTrace) OnTrace(line);
}

template <class F>
decltype(auto) TPluginSession::Call(const PluginTurn& who, const char* call, F&& f) {
    if (Dropped(who.entry.PluginId))
        throw Exception("The plug-in \"" + who.name + "\" was turned off for this picture.");
    if (OnCall) OnCall(who.name, automation::GuidToString(who.entry.PluginId), call);
    ScopeExit endNote([this] {
        if (OnCall) OnCall("", "", "");
    });
    ++calls_;
    ScopeExit endCall([this] { --calls_; });
    // A fault in a window of the plug-in while the call runs (a dialog of
    // its own) ends the call's use of it as a fault in the call would.
    auto windowFault = [&] {
        DWORD code = 0;
        const void* address = nullptr;
        if (windows_.TakeFault(code, address)) Drop(who, EForeignFault(code, address));
    };
    try {
        TForeignWindows::Watch watch(windows_);
        if constexpr (std::is_void_v<decltype(ForeignCall(std::forward<F>(f)))>) {
            ForeignCall(std::forward<F>(f));
            windowFault();
        } else {
            auto result = ForeignCall(std::forward<F>(f));
            windowFault();
            return result;
        }
    } catch (const EForeignFault& fault) {
        // One fault is enough to say: a window's that came first goes with it.
        DWORD code = 0;
        const void* address = nullptr;
        windows_.TakeFault(code, address);
        Drop(who, fault);
    } catch (...) {
        windowFault();
        throw;
    }
}

void TPluginSession::Drop(const PluginTurn& who, const EForeignFault& fault) {
    throw Exception(TurnOff(who, fault));
}

std::string TPluginSession::TurnOff(const PluginTurn& who, const EForeignFault& fault) noexcept {
    NotePluginFault();
    try {
        if (!Dropped(who.entry.PluginId)) dropped_.push_back(who.entry.PluginId);
    } catch (...) {
    }
    // Nothing of a plug-in that faulted is called again, not even Release.
    if (::IsEqualCLSID(who.entry.PluginId, current_.entry.PluginId) && current_.row == who.row) {
        Plugin.Detach();
        container_.AbandonObject();
        ready_ = false;
        // Whatever its windows had disabled is ours again.
        if (TForm* form = container_.Form()) ::EnableWindow(form->Handle(), TRUE);
    }
    std::string message;
    try {
        Trace(std::string("Fault: ") + fault.what());
        if (OnFault) OnFault(who, fault);
        message = "The plug-in \"" + who.name + "\" stopped working (" + fault.what() +
                  ") and was turned off for this picture.";
    } catch (...) {
    }
    return message;
}

void TPluginSession::WindowFault(const EForeignFault& fault) noexcept {
    // Inside a call of ours the call takes it, once it returns.
    if (calls_ > 0) return;
    DWORD code = 0;
    const void* address = nullptr;
    windows_.TakeFault(code, address);
    const std::string message = TurnOff(current_, fault);
    // Inside the plug-in's window procedure nothing may raise: the message
    // comes once the loop has it.
    try {
        throw Exception(message);
    } catch (...) {
        Application.PostException();
    }
}

bool TPluginSession::Dropped(const CLSID& plugin) const {
    return std::any_of(dropped_.begin(), dropped_.end(),
                       [&](const CLSID& id) { return ::IsEqualCLSID(id, plugin); });
}

void TPluginSession::Close() {
    ready_ = false;
    if (ForeignCallsStopped()) {
        // No plug-in code runs any more, not even a release.
        Plugin.Detach();
        container_.AbandonObject();
        current_ = PluginTurn{};
        return;
    }
    // The page and the instance are the plug-in's own: a fault in either
    // turns off that plug-in, not the one that comes next.
    const PluginTurn owner = current_;
    if (container_.HasObject()) Call(owner, "Close", [&] { container_.CloseObject(); });
    if (Plugin) Call(owner, "Release", [&] { Plugin.reset(); });
    current_ = PluginTurn{};
}

void TPluginSession::Show(const PluginTurn& turn) {
    Close();
    windows_.Reset();
    current_ = turn;
    const std::string id = automation::GuidToString(turn.entry.PluginId);
    // Created in-process, as the wizard lists: a directory object of its own
    // would count as served and, released, end a program started for automation.
    Call(turn, "GetPlugin", [&] {
        OleCheck(plugin_directory::CreatePlugin(turn.entry.PluginId, id, Plugin),
                 "Cannot create the plug-in " + id);
    });
    CoTaskString progId;
    OleCheck(::ProgIDFromCLSID(turn.entry.OptionsClassId, progId.put()),
             "The options object " + automation::GuidToString(turn.entry.OptionsClassId) +
                 " of the plug-in " + id + " has no ProgID");
    pages_.push_back(turn);
    container_.ObjectTag = static_cast<intptr_t>(pages_.size());
    Call(turn, "CreateObject", [&] { container_.CreateObject(progId.get(), false); });
    Call(turn, "SetPlugin", [&] {
        ComPtr<IKestrixPluginOptions> options = Options();
        const HRESULT hr = options->SetPlugin(Plugin.get());
        Trace("SetPlugin: status " + HexStatus(hr) + " (options object " + Utf8(progId.get()) + ")");
        automation::OleCheckCall(hr, options.get(), IID_IKestrixPluginOptions);
    });
    Call(turn, "DoVerb", [&] { container_.DoVerb(OLEIVERB_SHOW); });
    // The page of an object that made it before we watched is its own too.
    for (HWND w = ::GetWindow(container_.Handle(), GW_CHILD); w; w = ::GetWindow(w, GW_HWNDNEXT))
        windows_.Adopt(w);
    Trace("DoVerb(OLEIVERB_SHOW): the page is shown");
    ready_ = true;
}

ComPtr<IKestrixPluginOptions> TPluginSession::Options() {
    return PluginOptionsOf(container_.OleObject());
}

bool TPluginSession::SaveSettings() {
    HRESULT result = S_OK;
    Call(current_, "SaveSettings", [&] {
        ComPtr<IKestrixPluginOptions> options = Options();
        const HRESULT hr = options->SaveSettings(&result);
        Trace("SaveSettings: status " + HexStatus(hr) + ", Result " + HexStatus(result));
        automation::OleCheckCall(hr, options.get(), IID_IKestrixPluginOptions);
    });
    return SUCCEEDED(result);
}

bool TPluginSession::Execute(IStream* picture, HWND owner, const std::string& what) {
    HRESULT result = S_OK;
    Call(current_, "Execute", [&] {
        const HRESULT hr =
            Plugin->Execute(picture, static_cast<long>(reinterpret_cast<LONG_PTR>(owner)), &result);
        Trace("Execute: status " + HexStatus(hr) + ", Result " + HexStatus(result) +
              (what.empty() ? "" : " (picture of " + what + ")"));
        automation::OleCheckCall(hr, Plugin.get(), IID_IKestrixPlugin);
    });
    return SUCCEEDED(result);
}

void TPluginSession::Notify(TNotifyMessages message) {
    if (!container_.HasObject()) return;
    Call(current_, "Notify", [&] {
        ComPtr<IKestrixPluginOptions> options = Options();
        const HRESULT hr = options->Notify(message);
        Trace(std::string(message == nmGetFocus ? "Notify(nmGetFocus)" : "Notify(nmLostFocus)") +
              ": status " + HexStatus(hr));
        automation::OleCheckCall(hr, options.get(), IID_IKestrixPluginOptions);
    });
}
