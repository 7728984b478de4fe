#pragma once
// The type library of the control: the dual interface IKovaGadget and the event interface IKovaGadgetEvents
// with every member's DISPID, kind and types, in interface order. A host calls members by name or DISPID
// and reads from here what each takes and returns.

#include <string>
#include <vector>

enum class TDispKind { Method, PropertyGet, PropertyPut, PropertyPutRef };

enum class TVarType {
    Empty,                   // no value
    Bool,                    // automation boolean: true is -1, false is 0
    I2,                      // 16-bit integer
    I4,                      // 32-bit integer
    BStr,                    // text
    Color,                   // OLE_COLOR
    Font,                    // IFontDisp
    TxActiveFormBorderStyle, // afbNone, afbSingle, afbSunken, afbRaised = 0 to 3
    TxPrintScale,            // poNone, poProportional, poPrintToFit = 0 to 2
};

struct TDispParam {
    std::string Name;
    TVarType Type;
    bool ByRef = false;
};

// What the gadget host does around a member besides calling it.
enum class TMemberRole {
    None,
    Init,      // builds the control for the folder the host serves
    Terminate, // ends the control; the host calls it too when the last page has gone
    Poll,      // a read the page repeats: answered on the request's own thread when nothing is queued
};

struct TDispMember {
    int DispID;
    std::string Name;
    TDispKind Kind;
    std::vector<TDispParam> Params;
    TVarType Result; // the out value "Value"; Empty for methods without one and for property writes
    TMemberRole Role = TMemberRole::None;
};

struct TTypeLibrary {
    std::string Name;  // "KovaGadgetProject"
    std::string LibID; // {350DF51B-...}
    int MajorVersion, MinorVersion;
    int LCID; // 0x409
    std::string CoClassName, CoClassID, InterfaceName, InterfaceID, EventInterfaceName, EventInterfaceID;
};

// IKovaGadget's members come from the control's member table (host/KovaGadgetMembers.h).
const TTypeLibrary& KovaGadgetTypeLibrary();
// IKovaGadgetEvents, DISPIDs 201 to 208.
const std::vector<TDispMember>& IKovaGadgetEventsMembers();
const char* DispKindName(TDispKind kind);
const char* VarTypeName(TVarType type);
