#include "host/KovaGadgetProject.h"

namespace {

using K = TDispKind;
using V = TVarType;

void Method(std::vector<TDispMember>& m, int id, const char* name, std::vector<TDispParam> params = {}) {
    m.push_back({id, name, K::Method, std::move(params), V::Empty});
}

std::vector<TDispMember> BuildEvents() {
    std::vector<TDispMember> m;
    Method(m, 201, "OnActivate");
    Method(m, 202, "OnClick");
    Method(m, 203, "OnCreate");
    Method(m, 204, "OnDblClick");
    Method(m, 205, "OnDestroy");
    Method(m, 206, "OnDeactivate");
    Method(m, 207, "OnKeyPress", {{"Key", V::I2, true}});
    Method(m, 208, "OnPaint");
    return m;
}

} // namespace

const TTypeLibrary& KovaGadgetTypeLibrary() {
    static const TTypeLibrary lib{"KovaGadgetProject",
                                  "{350DF51B-BC28-4FD1-9936-62D81C0117D5}",
                                  1,
                                  0,
                                  0x409,
                                  "KovaGadget",
                                  "{27E6009B-6650-4597-855C-DE76AAECF229}",
                                  "IKovaGadget",
                                  "{AA1AD585-0082-48CC-9180-31B32E8C5907}",
                                  "IKovaGadgetEvents",
                                  "{5D4FA94E-1FFB-42BE-AFAC-F30BCCD9E77A}"};
    return lib;
}

const std::vector<TDispMember>& IKovaGadgetEventsMembers() {
    static const std::vector<TDispMember> events = BuildEvents();
    return events;
}

const char* DispKindName(TDispKind kind) {
    switch (kind) {
    case K::Method:
        return "method";
    case K::PropertyGet:
        return "propget";
    case K::PropertyPut:
        return "propput";
    case K::PropertyPutRef:
        return "propputref";
    }
    return "unknown";
}

const char* VarTypeName(TVarType type) {
    switch (type) {
    case V::Empty:
        return "void";
    case V::Bool:
        return "VARIANT_BOOL";
    case V::I2:
        return "short";
    case V::I4:
        return "long";
    case V::BStr:
        return "BSTR";
    case V::Color:
        return "OLE_COLOR";
    case V::Font:
        return "IFontDisp";
    case V::TxActiveFormBorderStyle:
        return "TxActiveFormBorderStyle";
    case V::TxPrintScale:
        return "TxPrintScale";
    }
    return "unknown";
}
