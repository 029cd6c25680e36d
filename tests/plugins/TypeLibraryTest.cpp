// The contract's type library as kestrix.exe carries it.
#include "automation/ComObj.h"
#include "plugins/kestrix_TLB.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

using automation::AnsiString;
using automation::GuidToString;
using ui::Bstr;
using ui::ComPtr;

namespace {

std::string ExePath() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + "kestrix.exe";
}

struct Param {
    std::string name;
    std::string type;
    USHORT flags;
};
struct Method {
    std::string name;
    MEMBERID id;
    int slot;
    FUNCKIND kind;
    CALLCONV callconv;
    VARTYPE returns;
    std::vector<Param> params;
};

class TypeLibraryTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::wstring path = automation::WideString(ExePath());
        ASSERT_EQ(S_OK, ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
    }
    static void TearDownTestSuite() { library.reset(); }

    static ComPtr<ITypeInfo> Info(REFGUID guid) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(guid, info.put()));
        return info;
    }
    static ComPtr<ITypeInfo> Named(const char* name) {
        for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> info;
            library->GetTypeInfo(i, info.put());
            if (Name(info.get()) == name) return info;
        }
        return {};
    }
    static std::string Name(ITypeInfo* info, std::string* doc = nullptr) {
        Bstr name, docString;
        info->GetDocumentation(MEMBERID_NIL, name.put(), docString.put(), nullptr, nullptr);
        if (doc) *doc = AnsiString(docString.get());
        return AnsiString(name.get());
    }
    static TYPEATTR Attr(ITypeInfo* info) {
        TYPEATTR* attr = nullptr;
        EXPECT_EQ(S_OK, info->GetTypeAttr(&attr));
        TYPEATTR copy = *attr;
        info->ReleaseTypeAttr(attr);
        return copy;
    }
    static ComPtr<ITypeInfo> VtableView(ITypeInfo* dispatch) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtable;
        EXPECT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &ref));
        EXPECT_EQ(S_OK, dispatch->GetRefTypeInfo(ref, vtable.put()));
        return vtable;
    }
    static std::string TypeText(ITypeInfo* info, const TYPEDESC& desc) {
        switch (desc.vt) {
            case VT_PTR: return TypeText(info, *desc.lptdesc) + "*";
            case VT_USERDEFINED: {
                ComPtr<ITypeInfo> ref;
                info->GetRefTypeInfo(desc.hreftype, ref.put());
                return ref ? Name(ref.get()) : "?";
            }
            case VT_BSTR: return "BSTR";
            case VT_HRESULT: return "HRESULT";
            case VT_I4: return "long";
            case VT_UNKNOWN: return "IUnknown*";
            default: return "vt" + std::to_string(desc.vt);
        }
    }
    // The methods the interface itself declares (not those it inherits).
    static std::vector<Method> Methods(ITypeInfo* info) {
        std::vector<Method> methods;
        TYPEATTR attr = Attr(info);
        for (UINT i = 0; i < attr.cFuncs; ++i) {
            FUNCDESC* fd = nullptr;
            EXPECT_EQ(S_OK, info->GetFuncDesc(i, &fd));
            UINT count = 0;
            BSTR raw[8] = {};
            info->GetNames(fd->memid, raw, 8, &count);
            Method m{AnsiString(raw[0]), fd->memid, fd->oVft / 4, fd->funckind, fd->callconv,
                     fd->elemdescFunc.tdesc.vt, {}};
            for (SHORT p = 0; p < fd->cParams; ++p)
                m.params.push_back({p + 1u < count ? AnsiString(raw[p + 1]) : "",
                                    TypeText(info, fd->lprgelemdescParam[p].tdesc),
                                    fd->lprgelemdescParam[p].paramdesc.wParamFlags});
            for (UINT k = 0; k < count; ++k) ::SysFreeString(raw[k]);
            info->ReleaseFuncDesc(fd);
            methods.push_back(m);
        }
        return methods;
    }
    static void ExpectMethod(const Method& m, const char* name, MEMBERID id, int slot,
                             std::vector<Param> params) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name, m.name);
        EXPECT_EQ(id, m.id);
        EXPECT_EQ(slot, m.slot);
        EXPECT_EQ(FUNC_PUREVIRTUAL, m.kind);
        EXPECT_EQ(CC_STDCALL, m.callconv);
        EXPECT_EQ(VT_HRESULT, m.returns);
        ASSERT_EQ(params.size(), m.params.size());
        for (size_t i = 0; i < params.size(); ++i) {
            EXPECT_EQ(params[i].name, m.params[i].name);
            EXPECT_EQ(params[i].type, m.params[i].type) << params[i].name;
            EXPECT_EQ(params[i].flags, m.params[i].flags) << params[i].name;
        }
    }

    static ComPtr<ITypeLib> library;
};
ComPtr<ITypeLib> TypeLibraryTest::library;

constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT,
                 kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

TEST_F(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_EQ(LIBID_kestrix, attr->guid);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(SYS_WIN32, attr->syskind);
    library->ReleaseTLibAttr(attr);

    Bstr name, doc;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr));
    EXPECT_EQ("kestrix", AnsiString(name.get()));
    EXPECT_EQ("Kestrix Library", AnsiString(doc.get()));

    // Three interfaces, the enumeration and the class; nothing else.
    std::map<std::string, TYPEKIND> kinds;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        library->GetTypeInfo(i, info.put());
        kinds[Name(info.get())] = Attr(info.get()).typekind;
    }
    std::map<std::string, TYPEKIND> expected = {{"IKestrixObject", TKIND_INTERFACE},
                                                {"IKestrixPlugin", TKIND_DISPATCH},
                                                {"IKestrixPluginOptions", TKIND_DISPATCH},
                                                {"TNotifyMessages", TKIND_ENUM},
                                                {"KestrixObject", TKIND_COCLASS}};
    EXPECT_EQ(expected, kinds);
}

TEST_F(TypeLibraryTest, TheExecutableCarriesItAsTypelibResourceOne) {
    ui::Module exe(::LoadLibraryExA(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(exe);
    HRSRC res = ::FindResourceA(exe.get(), MAKEINTRESOURCEA(1), "TYPELIB");
    ASSERT_NE(nullptr, res);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(exe.get(), res)));
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(std::string("MSFT"), std::string(data, 4));
}

TEST_F(TypeLibraryTest, KestrixObjectInterfaceIsPlainVtable) {
    ComPtr<ITypeInfo> info = Info(IID_IKestrixObject);
    std::string doc;
    EXPECT_EQ("IKestrixObject", Name(info.get(), &doc));
    EXPECT_EQ("Interface for KestrixObject Object", doc);
    TYPEATTR attr = Attr(info.get());
    EXPECT_EQ(TKIND_INTERFACE, attr.typekind);
    EXPECT_EQ(0, attr.wTypeFlags);
    EXPECT_EQ(1, attr.wMajorVerNum);
    EXPECT_EQ(0, attr.wMinorVerNum);
    EXPECT_EQ(7 * 4, attr.cbSizeVft);
    ASSERT_EQ(1, attr.cImplTypes);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, base.put()));
    EXPECT_EQ(IID_IUnknown, Attr(base.get()).guid);

    std::vector<Method> m = Methods(info.get());
    ASSERT_EQ(4u, m.size());
    ExpectMethod(m[0], "GetPluginList", 1, 3, {{"PluginList", "BSTR*", kOut}});
    ExpectMethod(m[1], "AddPlugin", 2, 4, {{"FileName", "BSTR", kIn}});
    ExpectMethod(m[2], "RemovePlugin", 3, 5, {{"FileName", "BSTR", kIn}});
    ExpectMethod(m[3], "GetPlugin", 4, 6,
                 {{"PluginNick", "BSTR", kIn}, {"PluginInstance", "IKestrixPlugin**", kOut}});
}

TEST_F(TypeLibraryTest, PluginInterfaceIsDual) {
    ComPtr<ITypeInfo> dispatch = Info(IID_IKestrixPlugin);
    std::string doc = "unset";
    EXPECT_EQ("IKestrixPlugin", Name(dispatch.get(), &doc));
    EXPECT_EQ("", doc);
    ComPtr<ITypeInfo> info = VtableView(dispatch.get());
    TYPEATTR attr = Attr(info.get());
    EXPECT_EQ(TKIND_INTERFACE, attr.typekind);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, attr.wTypeFlags);
    EXPECT_EQ(IID_IKestrixPlugin, attr.guid);
    EXPECT_EQ(1, attr.wMajorVerNum);
    EXPECT_EQ(0, attr.wMinorVerNum);
    EXPECT_EQ(9 * 4, attr.cbSizeVft);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, base.put()));
    EXPECT_EQ(IID_IDispatch, Attr(base.get()).guid);

    std::vector<Method> m = Methods(info.get());
    ASSERT_EQ(2u, m.size());
    ExpectMethod(m[0], "GetPluginInfo", 1, 7,
                 {{"Name", "BSTR*", kOut},
                  {"Description", "BSTR*", kOut},
                  {"OptionsObjectName", "BSTR*", kOut},
                  {"Result", "HRESULT*", kRetval}});
    ExpectMethod(m[1], "Execute", 2, 8,
                 {{"ImageStream", "IUnknown*", kIn},
                  {"ParentWnd", "long", kIn},
                  {"Result", "HRESULT*", kRetval}});
}

TEST_F(TypeLibraryTest, OptionsInterfaceIsDual) {
    ComPtr<ITypeInfo> dispatch = Info(IID_IKestrixPluginOptions);
    std::string doc = "unset";
    EXPECT_EQ("IKestrixPluginOptions", Name(dispatch.get(), &doc));
    EXPECT_EQ("", doc);
    ComPtr<ITypeInfo> info = VtableView(dispatch.get());
    TYPEATTR attr = Attr(info.get());
    EXPECT_EQ(TKIND_INTERFACE, attr.typekind);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, attr.wTypeFlags);
    EXPECT_EQ(1, attr.wMajorVerNum);
    EXPECT_EQ(10 * 4, attr.cbSizeVft);

    std::vector<Method> m = Methods(info.get());
    ASSERT_EQ(3u, m.size());
    ExpectMethod(m[0], "SetPlugin", 1, 7, {{"Plugin", "IKestrixPlugin*", kIn}});
    ExpectMethod(m[1], "SaveSettings", 2, 8, {{"Result", "HRESULT*", kRetval}});
    ExpectMethod(m[2], "Notify", 3, 9, {{"Msg", "TNotifyMessages", kIn}});
}

TEST_F(TypeLibraryTest, DispatchViewsNameTheSameMembers) {
    // Late-bound clients find the methods by name with the same DISPIDs.
    for (const IID* iid : {&IID_IKestrixPlugin, &IID_IKestrixPluginOptions}) {
        ComPtr<ITypeInfo> info = Info(*iid);
        EXPECT_EQ(TKIND_DISPATCH, Attr(info.get()).typekind);
        EXPECT_TRUE(Attr(info.get()).wTypeFlags & TYPEFLAG_FDUAL);
    }
    ComPtr<ITypeInfo> plugin = Info(IID_IKestrixPlugin);
    const wchar_t* names[] = {L"GetPluginInfo", L"Execute"};
    for (MEMBERID expected = 1; expected <= 2; ++expected) {
        MEMBERID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
        EXPECT_EQ(S_OK, plugin->GetIDsOfNames(&name, 1, &id));
        EXPECT_EQ(expected, id);
    }
}

TEST_F(TypeLibraryTest, NotifyMessagesEnumeration) {
    ComPtr<ITypeInfo> info = Named("TNotifyMessages");
    ASSERT_TRUE(info);
    TYPEATTR attr = Attr(info.get());
    EXPECT_EQ(TKIND_ENUM, attr.typekind);
    EXPECT_EQ(4, attr.cbSizeInstance);
    ASSERT_EQ(2, attr.cVars);
    std::map<std::string, LONG> values;
    for (UINT i = 0; i < attr.cVars; ++i) {
        VARDESC* vd = nullptr;
        ASSERT_EQ(S_OK, info->GetVarDesc(i, &vd));
        UINT count = 0;
        BSTR raw = nullptr;
        info->GetNames(vd->memid, &raw, 1, &count);
        values[AnsiString(raw)] = vd->lpvarValue->lVal;
        ::SysFreeString(raw);
        info->ReleaseVarDesc(vd);
    }
    EXPECT_EQ((std::map<std::string, LONG>{{"nmLostFocus", 0}, {"nmGetFocus", 1}}), values);
    EXPECT_EQ(0, nmLostFocus);
    EXPECT_EQ(1, nmGetFocus);
    EXPECT_EQ(4u, sizeof(TNotifyMessages));
}

TEST_F(TypeLibraryTest, CreatableClass) {
    ComPtr<ITypeInfo> info = Info(CLSID_KestrixObject);
    std::string doc;
    EXPECT_EQ("KestrixObject", Name(info.get(), &doc));
    EXPECT_EQ("KestrixObject Object", doc);
    TYPEATTR attr = Attr(info.get());
    EXPECT_EQ(TKIND_COCLASS, attr.typekind);
    EXPECT_EQ(TYPEFLAG_FCANCREATE, attr.wTypeFlags);
    EXPECT_EQ(1, attr.wMajorVerNum);
    EXPECT_EQ(0, attr.wMinorVerNum);
    ASSERT_EQ(1, attr.cImplTypes);
    INT flags = 0;
    EXPECT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> itf;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, itf.put()));
    EXPECT_EQ(IID_IKestrixObject, Attr(itf.get()).guid);
}

TEST_F(TypeLibraryTest, IdentifiersAreDistinctAndTheDeclarationsMatch) {
    std::vector<std::string> ids = {GuidToString(LIBID_kestrix), GuidToString(IID_IKestrixObject),
                                    GuidToString(IID_IKestrixPlugin),
                                    GuidToString(IID_IKestrixPluginOptions),
                                    GuidToString(CLSID_KestrixObject)};
    for (size_t i = 0; i < ids.size(); ++i)
        for (size_t j = i + 1; j < ids.size(); ++j) EXPECT_NE(ids[i], ids[j]);
    EXPECT_EQ(IID_IKestrixObject, __uuidof(IKestrixObject));
    EXPECT_EQ(IID_IKestrixPlugin, __uuidof(IKestrixPlugin));
    EXPECT_EQ(IID_IKestrixPluginOptions, __uuidof(IKestrixPluginOptions));
    EXPECT_EQ(kKestrixMajorVersion, 1);
    EXPECT_EQ(kKestrixMinorVersion, 0);
}

}  // namespace
