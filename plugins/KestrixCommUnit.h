// What the program's forms share about plug-ins: the plug-in list text that
// the directory hands out, and the file of default plug-ins.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "ui/ComCtrls.h"

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

// Fills a list view with one row per plug-in of the directory, in its
// order: the name, the description, a PluginEntry as the row's data, and
// the check box from "CheckedPlugins.lst". A plug-in whose GetPlugin fails
// is left out; any other failure raises and ends the filling with the rows
// before it kept. The row of an options identifier that does not convert
// stays without data when keepRowWithoutEntry, else it is removed again.
void LoadPluginRows(ui::TListView& view, bool keepRowWithoutEntry);

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
