// What the program's forms share about plug-ins: the plug-in list text that
// the directory hands out, and the file of default plug-ins.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "ui/ComCtrls.h"

#include <functional>
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

// What a row of a plug-in list carries: the plug-in's class and the class
// of its options object.
struct PluginEntry {
    CLSID PluginId;
    CLSID OptionsClassId;
};

// ---- The plug-in list of a form -----------------------------------------

// A plug-in that could not be listed, and why.
struct PluginFailure {
    // Its name where known, else its identifier; empty for the list of
    // defaults.
    std::string Plugin;
    std::string Reason;
};

// Told before each call into a plug-in's code while the list fills: the
// plug-in (its identifier, or its name once known) and the call.
using PluginCallNote = std::function<void(const std::string& plugin, const char* call)>;

// Fills a list view with one row per plug-in of the directory, in its
// order: the name, the description, a PluginEntry as the row's data, and
// the check box from "CheckedPlugins.lst". A plug-in that cannot be
// created, whose GetPluginInfo fails or faults, or whose options
// identifier does not convert is left out (kept without data when
// keepRowWithoutEntry, for the last case) and named in the result; the
// others are listed all the same. An unreadable list of defaults is named
// too and checks nothing.
std::vector<PluginFailure> LoadPluginRows(ui::TListView& view, bool keepRowWithoutEntry,
                                          const PluginCallNote& note = nullptr);

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
