#pragma once
// The control's members, each written once: name, DISPID, kind, types, the control's operation that answers
// it and what the host does around it. The type library's IKovaGadget, the dispatch, the host's special
// calls and the member list of docs/host-protocol.md all read this table.

#include "base/UnitExceptions.h"
#include "host/KovaGadgetProject.h"
#include "host/KovaGadgetUnit.h"

#include <map>
#include <string>
#include <vector>

KOVA_DECLARE_EXCEPTION(EKovaDispatchError, Exception);

enum class TMemberShape { Method, ReadOnly, ReadWrite, ReadWriteRef };

using TKovaArgs = std::vector<TKovaVariant>;
// A method's call, a property's read, or its write (with the value as the one argument).
using TKovaMemberHandler = TKovaVariant (*)(TKovaGadget& gadget, const TKovaArgs& args);

struct TKovaGadgetMember {
    int DispID;
    const char* Name;
    TMemberShape Shape;
    TVarType Type; // a property's type, a method's result
    std::vector<TDispParam> Params;
    // Null for the stock window properties, which the dispatch keeps as plain values starting at Initial.
    TKovaMemberHandler Call = nullptr;
    TKovaMemberHandler Put = nullptr;
    TKovaVariant Initial;
    TMemberRole Role = TMemberRole::None;
};

using TKovaGadgetMemberTable = std::vector<TKovaGadgetMember>;

// IKovaGadget's members in interface order: the stock window properties first, then the control's own.
const TKovaGadgetMemberTable& KovaGadgetMemberTable();
// A table's type library entries: a read-write property is two entries (three with a put by reference) with
// one DISPID.
std::vector<TDispMember> ExpandMembers(const TKovaGadgetMemberTable& table);
// The member list of docs/host-protocol.md: a Markdown table of every entry, and of the events.
std::string KovaGadgetMemberList(const TKovaGadgetMemberTable& table);

// IKovaGadget as the type library lists it: ExpandMembers of the control's table.
const std::vector<TDispMember>& IKovaGadgetMembers();
// The member of that name (case-insensitive, as automation names are) and kind, or nullptr.
const TDispMember* FindDispMember(const std::string& name, TDispKind kind);
const TDispMember* FindDispMember(int dispID, TDispKind kind);
// The member of the control's table that plays that role in the host.
const TDispMember& RoleMember(TMemberRole role);

// The outcome of one dispatched call: a failed call carries the message of what went wrong.
struct TKovaDispResult {
    bool Succeeded = true;
    TKovaVariant Value;
    std::string ErrorMessage;
};

// Calls a table's members on a control, with the stock window properties kept as plain values.
class TKovaGadgetDispatch {
public:
    explicit TKovaGadgetDispatch(TKovaGadget& gadget,
                                 const TKovaGadgetMemberTable& table = KovaGadgetMemberTable());

    // Calls the member of that name (case-insensitive) or DISPID and kind with the arguments, after checking
    // their number and types against the type library. Never raises.
    TKovaDispResult Invoke(const std::string& name, TDispKind kind, const std::vector<TKovaVariant>& args);
    TKovaDispResult Invoke(int dispID, TDispKind kind, const std::vector<TKovaVariant>& args);

    TKovaGadget& Gadget() const { return FGadget; }

private:
    TKovaDispResult Call(const TDispMember* member, const std::string& requested, TDispKind kind,
                         const std::vector<TKovaVariant>& args);
    TKovaVariant CallChecked(const TDispMember& member, const std::vector<TKovaVariant>& args);

    TKovaGadget& FGadget;
    const TKovaGadgetMemberTable& FTable;
    std::vector<TDispMember> FMembers;
    std::map<int, TKovaVariant> FWindowProperties;
};

// The name of the variant's kind as messages show it: "empty", "bool", "int" or "string".
const char* KovaVariantKindName(const TKovaVariant& value);
