#include "plugins/PluginSession.h"

#include "automation/ComObj.h"
#include "plugins/PluginDirectory.h"
#include "ui/Exception.h"
#include "ui/Forms.h"
#include "ui/Strings.h"

#include <algorithm>
#include <cstdio>

using namespace ui;

std::string HexStatus(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

TPluginSession::TPluginSession(TOleContainer& container) : container_(container) {
    container_.OnObjectFault = [this](const EForeignFault& fault) {
        const intptr_t tag = container_.FaultedTag();
        if (tag > 0 && static_cast<size_t>(tag) <= pages_.size()) Drop(pages_[tag - 1], fault);
    };
}

TPluginSession::~TPluginSession() {
    container_.OnObjectFault = nullptr;
    Guarded([this] { TearDown(); });
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
    try {
        return ForeignCall(std::forward<F>(f));
    } catch (const EForeignFault& fault) {
        Drop(who, fault);
    }
}

void TPluginSession::Drop(const PluginTurn& who, const EForeignFault& fault) {
    if (!Dropped(who.entry.PluginId)) dropped_.push_back(who.entry.PluginId);
    // Nothing of a plug-in that faulted is called again, not even Release.
    if (::IsEqualCLSID(who.entry.PluginId, current_.entry.PluginId) && current_.row == who.row) {
        Plugin.Detach();
        container_.AbandonObject();
        ready_ = false;
    }
    Trace(std::string("Fault: ") + fault.what());
    if (OnFault) OnFault(who, fault);
    throw Exception("The plug-in \"" + who.name + "\" stopped working (" + fault.what() +
                    ") and was turned off for this picture.");
}

bool TPluginSession::Dropped(const CLSID& plugin) const {
    return std::any_of(dropped_.begin(), dropped_.end(),
                       [&](const CLSID& id) { return ::IsEqualCLSID(id, plugin); });
}

void TPluginSession::TearDown() {
    ready_ = false;
    // The page and the instance are the plug-in's own: a fault in either
    // turns off that plug-in, not the one that comes next.
    const PluginTurn owner = current_;
    if (container_.HasObject()) Call(owner, "Close", [&] { container_.CloseObject(); });
    if (Plugin) Call(owner, "Release", [&] { Plugin.reset(); });
    current_ = PluginTurn{};
}

void TPluginSession::Close() { TearDown(); }

void TPluginSession::Show(const PluginTurn& turn) {
    TearDown();
    current_ = turn;
    const std::string id = automation::GuidToString(turn.entry.PluginId);
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
