#include "host/KovaGadgetProject.h"

#include "base/UnitUtils.h"

namespace {

using K = TDispKind;
using V = TVarType;

void ReadWrite(std::vector<TDispMember>& m, int id, const char* name, V type) {
    m.push_back({id, name, K::PropertyGet, {}, type});
    m.push_back({id, name, K::PropertyPut, {{"Value", type}}, V::Empty});
}

void ReadOnly(std::vector<TDispMember>& m, int id, const char* name, V type) {
    m.push_back({id, name, K::PropertyGet, {}, type});
}

void Method(std::vector<TDispMember>& m, int id, const char* name, std::vector<TDispParam> params = {},
            V result = V::Empty) {
    m.push_back({id, name, K::Method, std::move(params), result});
}

std::vector<TDispMember> BuildMembers() {
    std::vector<TDispMember> m;
    ReadWrite(m, 201, "Visible", V::Bool);
    ReadWrite(m, 202, "AutoScroll", V::Bool);
    ReadWrite(m, 203, "AutoSize", V::Bool);
    ReadWrite(m, 204, "AxBorderStyle", V::TxActiveFormBorderStyle);
    ReadWrite(m, -518, "Caption", V::BStr);
    ReadWrite(m, -501, "Color", V::Color);
    ReadWrite(m, -512, "Font", V::Font);
    m.push_back({-512, "Font", K::PropertyPutRef, {{"Value", V::Font}}, V::Empty});
    ReadWrite(m, 205, "KeyPreview", V::Bool);
    ReadWrite(m, 206, "PixelsPerInch", V::I4);
    ReadWrite(m, 207, "PrintScale", V::TxPrintScale);
    ReadWrite(m, 208, "Scaled", V::Bool);
    ReadOnly(m, 209, "Active", V::Bool);
    ReadWrite(m, 210, "DropTarget", V::Bool);
    ReadWrite(m, 211, "HelpFile", V::BStr);
    ReadWrite(m, 212, "ScreenSnap", V::Bool);
    ReadWrite(m, 213, "SnapBuffer", V::I4);
    ReadWrite(m, 214, "DoubleBuffered", V::Bool);
    ReadOnly(m, 215, "AlignDisabled", V::Bool);
    ReadOnly(m, 216, "VisibleDockClientCount", V::I4);
    ReadWrite(m, -514, "Enabled", V::Bool);

    Method(m, 217, "Init", {{"iGadgetPath", V::BStr}});
    ReadWrite(m, 218, "Undocked", V::Bool);
    Method(m, 219, "NextPage");
    Method(m, 220, "PrevPage");
    Method(m, 221, "LoadWatchlist");
    Method(m, 222, "ShowOptions");
    Method(m, 223, "Terminate");
    Method(m, 224, "FirstPage");
    Method(m, 225, "LastPage");
    ReadWrite(m, 226, "UpdatesAvailable", V::Bool);
    ReadOnly(m, 227, "LinkDownloadPage", V::BStr);
    ReadOnly(m, 228, "RefreshAuctionsAtStart", V::Bool);
    ReadOnly(m, 229, "RefreshIntervalInMinutes", V::I4);
    ReadOnly(m, 230, "RefreshAuctionsAutomatically", V::Bool);
    Method(m, 231, "BuildDetailsFileFor", {{"iArticleNr", V::BStr}}, V::Bool);
    ReadOnly(m, 232, "IsWorking", V::Bool);
    return m;
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

const std::vector<TDispMember>& IKovaGadgetMembers() {
    static const std::vector<TDispMember> members = BuildMembers();
    return members;
}

const std::vector<TDispMember>& IKovaGadgetEventsMembers() {
    static const std::vector<TDispMember> events = BuildEvents();
    return events;
}

const TDispMember* FindDispMember(const std::string& name, TDispKind kind) {
    for (const auto& m : IKovaGadgetMembers())
        if (m.Kind == kind && SameText(m.Name, name)) return &m;
    return nullptr;
}

const TDispMember* FindDispMember(int dispID, TDispKind kind) {
    for (const auto& m : IKovaGadgetMembers())
        if (m.Kind == kind && m.DispID == dispID) return &m;
    return nullptr;
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
