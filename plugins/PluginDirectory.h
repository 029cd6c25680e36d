// The plug-in directory as the program's own code calls it: the installed
// plug-ins and new instances of them. TKestrixObject serves the same code
// to other programs through COM.
#pragma once

#include "plugins/kestrix_TLB.h"
#include "ui/Handles.h"

#include <string>
#include <vector>

// Per-user key whose subkeys, named by plug-in identifiers, are the
// installed plug-ins.
constexpr char kPluginsKey[] = "Software\\Orvane\\Kestrix\\Plugins";

namespace plugin_directory {

// Appends the identifiers of the installed plug-ins to ids, in the
// registry's order; a missing plug-in key is created and lists none. A
// failure part of the way raises, with what was read before it in ids.
void ReadPluginIds(std::vector<std::string>& ids);

// A new instance of the plug-in with the identifier id, in its braced
// form. A malformed identifier or a class that cannot be created raises
// EOleSysError; an object that is no plug-in comes back as the status
// (E_NOINTERFACE), with instance empty.
HRESULT CreatePlugin(const std::wstring& id, ui::ComPtr<IKestrixPlugin>& instance);
// The same for an identifier already read; nick names it in a failure.
HRESULT CreatePlugin(const CLSID& classId, const std::string& nick, ui::ComPtr<IKestrixPlugin>& instance);

}  // namespace plugin_directory
