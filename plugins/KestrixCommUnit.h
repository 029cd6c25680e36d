// What the program's forms share about plug-ins: the plug-in list text that
// the directory hands out, and the file of default plug-ins.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---- Plug-in list text --------------------------------------------------

// Names joined by commas. A name that is empty or contains a space, a
// control character, a double quote or a comma is enclosed in double
// quotes, with its quotes doubled, so that SplitPluginList gives it back.
std::string PluginListText(const std::vector<std::string>& names);

// The names of a plug-in list text: split at commas and at runs of spaces
// and control characters outside quotes, with the quoting removed.
std::vector<std::string> SplitPluginList(const std::string& text);
// The same for the text as the directory hands it out.
std::vector<std::string> SplitPluginList(BSTR text);

// ---- Identifiers --------------------------------------------------------

// A class identifier from its braced 38-character form only (the system's
// own parser also takes a ProgID); raises EOleSysError CO_E_CLASSSTRING
// naming the text otherwise.
CLSID StringToClassId(const std::string& text);
// The same without raising: false for any other text.
bool ParseClassId(const std::string& text, CLSID& id);

// What a row of a plug-in list carries: the plug-in's class and the class
// of its options object.
struct PluginEntry {
    CLSID PluginId;
    CLSID OptionsClassId;
};

// ---- The plug-in list of a form -----------------------------------------

// A plug-in of the directory as a form lists it.
struct ListedPlugin {
    std::string name;
    std::string description;
    // None when its identifiers do not convert.
    std::shared_ptr<PluginEntry> entry;
    // Named in "CheckedPlugins.lst".
    bool checked = false;
};

// A plug-in that could not be listed, and why.
struct PluginFailure {
    // Its name where known, else its identifier; empty for the list of
    // defaults.
    std::string Plugin;
    std::string Reason;
};

// Told before each call into a plug-in's code: the plug-in (its name, or
// its identifier while the name is not known), its identifier and the call.
using PluginCallNote =
    std::function<void(const std::string& plugin, const std::string& id, const char* call)>;

// What a form lists: the plug-ins and what could not be listed.
struct PluginListing {
    std::vector<ListedPlugin> plugins;
    std::vector<PluginFailure> failures;
};

// Whether a plug-in is left out of a listing without being called, and
// why (a reason for the failures): for a plug-in that the last runs on
// this picture did not survive.
using PluginSkip = std::function<bool(const std::string& id, PluginFailure& failure)>;

// One entry per plug-in of the directory, in its order: the name, the
// description, its identifiers and whether "CheckedPlugins.lst" checks it.
// A plug-in that cannot be created or whose GetPluginInfo fails or faults
// is left out and named in the failures; one whose options identifier does
// not convert is listed without an entry and named too. An unreadable list
// of defaults is named as well and checks nothing. The strings a plug-in
// returns are read and freed inside the fault frame: one that is no
// string of the system's allocator is the plug-in's fault.
PluginListing LoadPluginEntries(const PluginCallNote& note = nullptr, const PluginSkip& skip = nullptr);

// What GetPluginInfo gave, as it gave it: the strings (UTF-8), its status
// and its Result.
using PluginInfoTrace = std::function<void(const std::string& name, const std::string& description,
                                           const std::string& optionsName, HRESULT status, HRESULT result)>;

// Lists one plug-in as LoadPluginEntries does: a row in listing.plugins,
// or its failure in listing.failures; nothing for a class that is no
// plug-in.
void ListPlugin(const std::string& id, const std::vector<std::string>& checked, PluginListing& listing,
                const PluginCallNote& note = nullptr, const PluginInfoTrace& trace = nullptr);

// The one message that names each plug-in of a fill that failed.
std::string PluginFailuresMessage(const std::vector<PluginFailure>& failures);

// ---- "CheckedPlugins.lst" -----------------------------------------------

// Full path of "CheckedPlugins.lst" in the user's application-data folder;
// raises "Error retreiviing AppData folder path" when there is none. The
// path is wide and whole; the file's lines are 8-bit text.
std::wstring CheckedPluginsPath();

// The lines of the file, split at CR, LF or CR LF and not trimmed. A
// missing file has none; any other failure to read it raises.
std::vector<std::string> ReadCheckedPlugins(const std::wstring& path);

// Whether a plug-in counts as checked: the canonical form of its
// identifier equals a line, letter case ignored.
bool IsPluginChecked(const std::vector<std::string>& lines, const CLSID& pluginId);

// Replaces the file with the canonical identifiers, each line ended by
// CR LF. The new text goes to a temporary file first, so a failure leaves
// the old list whole; a failure raises.
void WriteCheckedPlugins(const std::wstring& path, const std::vector<CLSID>& pluginIds);
