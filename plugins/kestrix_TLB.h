// The plug-in contract as C++: the interfaces and identifiers compiled from
// kestrix.idl, and the creator of the program's directory object.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "kestrix.h"  // generated from plugins/kestrix.idl
#include "ui/Handles.h"

#include <string>

// Version of the type library.
constexpr WORD kKestrixMajorVersion = 1;
constexpr WORD kKestrixMinorVersion = 0;

// LIBID_kestrix, IID_IKestrixObject, IID_IKestrixPlugin,
// IID_IKestrixPluginOptions and CLSID_KestrixObject are defined in
// kestrix_TLB.cpp from the generated declarations.

// Creates directory objects: served by the running program's own factory
// when there is one, else by whatever server the registry names.
class CoKestrixObject {
public:
    // Raises EOleSysError with the platform's status when nothing can be
    // created, and one saying the interface is not supported when the object
    // is no directory.
    static ui::ComPtr<IKestrixObject> Create();
};

// Calls GetPlugin for an in-process caller. A failure that the directory
// raised (a malformed identifier, a class that cannot be created) is raised
// here again as EOleSysError; a failure it only returned (a class without
// IKestrixPlugin) comes back as the status, with Instance empty.
HRESULT CallGetPlugin(IKestrixObject& directory, const std::string& pluginNick,
                      ui::ComPtr<IKestrixPlugin>& Instance);

// The options interface of a plug-in's options object, as its container
// holds it; raises when the object does not support it.
ui::ComPtr<IKestrixPluginOptions> PluginOptionsOf(const ui::ComPtr<IDispatch>& object);
