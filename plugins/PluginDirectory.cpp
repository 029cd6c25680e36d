#include "plugins/PluginDirectory.h"

#include "ui/Exception.h"
#include "ui/Strings.h"

namespace plugin_directory {

using namespace ui;

void ReadPluginIds(std::vector<std::string>& ids) {
    RegKey key;
    if (::RegOpenKeyA(HKEY_CURRENT_USER, kPluginsKey, key.put()) != ERROR_SUCCESS) {
        RegKey created;
        ::RegCreateKeyA(HKEY_CURRENT_USER, kPluginsKey, created.put());
        return;
    }
    // A name has at most 255 characters, but in a multi-byte code page
    // that is more bytes than 261: the buffer grows until it fits.
    std::vector<char> name(261);
    for (DWORD index = 0;;) {
        LONG rc = ::RegEnumKeyA(key.get(), index, name.data(), static_cast<DWORD>(name.size()));
        if (rc == ERROR_MORE_DATA && name.size() < 4096) {
            name.resize(name.size() * 2);
            continue;
        }
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) throw Exception("Error enumerating registry items");
        ids.emplace_back(name.data());
        ++index;
    }
}

HRESULT CreatePlugin(const std::wstring& id, ComPtr<IKestrixPlugin>& instance) {
    instance.reset();
    CLSID classId;
    std::string nick = AnsiString(id.c_str(), static_cast<int>(id.size()));
    OleCheck(::CLSIDFromString(WideString(nick).c_str(), &classId),
             Quoted(id) + " is no plug-in identifier");
    return CreatePlugin(classId, nick, instance);
}

HRESULT CreatePlugin(const CLSID& classId, const std::string& nick, ComPtr<IKestrixPlugin>& instance) {
    instance.reset();
    ComPtr<IUnknown> object;
    OleCheck(::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IUnknown, object.put_void()),
             "Cannot create the plug-in " + nick);
    if (!object) return E_FAIL;
    IKestrixPlugin* raw = nullptr;
    HRESULT hr = object->QueryInterface(IID_IKestrixPlugin, reinterpret_cast<void**>(&raw));
    // A plug-in that fails must not hand out a pointer as well.
    ComPtr<IKestrixPlugin> got = ComPtr<IKestrixPlugin>::Attach(raw);
    if (SUCCEEDED(hr)) instance = std::move(got);
    return hr;
}

}  // namespace plugin_directory
