#include "host/KovaGadgetServerCalls.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"

#include <climits>
#include <cstdint>

namespace {

using json = nlohmann::json;

const char* CallKindName(TDispKind kind) {
    switch (kind) {
    case TDispKind::Method:
        return "method";
    case TDispKind::PropertyGet:
        return "get";
    default:
        return "put";
    }
}

// Whether values of the type can travel as JSON through this host.
bool Carriable(TVarType type) {
    return type != TVarType::Font;
}

const char* JsonKindFor(TVarType type) {
    switch (type) {
    case TVarType::Bool:
        return "boolean";
    case TVarType::BStr:
        return "string";
    default:
        return "integer";
    }
}

bool JsonFits(const json& value, TVarType type) {
    switch (type) {
    case TVarType::Bool:
        return value.is_boolean();
    case TVarType::BStr:
        return value.is_string();
    default:
        return value.is_number_integer();
    }
}

TKovaVariant ToVariant(const json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) {
        const auto number = value.get<int64_t>();
        if (number < INT32_MIN || number > INT32_MAX)
            throw EConvertError("an integer argument is out of range");
        return static_cast<int>(number);
    }
    return std::monostate{};
}

json MemberToJson(const TDispMember& m) {
    json params = json::array();
    for (const TDispParam& p : m.Params)
        params.push_back({{"name", p.Name}, {"type", VarTypeName(p.Type)}, {"byRef", p.ByRef}});
    return {{"dispid", m.DispID},
            {"name", m.Name},
            {"kind", DispKindName(m.Kind)},
            {"params", std::move(params)},
            {"result", VarTypeName(m.Result)}};
}

} // namespace

json KovaResultJson(const TKovaVariant& value) {
    if (std::holds_alternative<bool>(value)) return std::get<bool>(value);
    if (std::holds_alternative<int>(value)) return std::get<int>(value);
    if (std::holds_alternative<std::string>(value)) return std::get<std::string>(value);
    return nullptr;
}

json KovaTypeLibraryJson() {
    const TTypeLibrary& lib = KovaGadgetTypeLibrary();
    json members = json::array(), events = json::array();
    for (const TDispMember& m : IKovaGadgetMembers())
        members.push_back(MemberToJson(m));
    for (const TDispMember& m : IKovaGadgetEventsMembers())
        events.push_back(MemberToJson(m));
    return {{"library",
             {{"name", lib.Name},
              {"libid", lib.LibID},
              {"majorVersion", lib.MajorVersion},
              {"minorVersion", lib.MinorVersion},
              {"lcid", lib.LCID},
              {"coClass", lib.CoClassName},
              {"coClassId", lib.CoClassID},
              {"interface", lib.InterfaceName},
              {"interfaceId", lib.InterfaceID},
              {"eventInterface", lib.EventInterfaceName},
              {"eventInterfaceId", lib.EventInterfaceID}}},
            {"members", std::move(members)},
            {"events", std::move(events)}};
}

std::string DumpKovaJson(const json& value) {
    // The control's texts are UTF-8 by convention; a stray byte must not cost the answer.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

TKovaCall ParseKovaCall(const json& body) {
    if (!body.is_object()) throw EConvertError("the body must be a JSON object");
    const json kindValue = body.value("kind", json());
    TDispKind kind;
    if (kindValue == "method")
        kind = TDispKind::Method;
    else if (kindValue == "get")
        kind = TDispKind::PropertyGet;
    else if (kindValue == "put")
        kind = TDispKind::PropertyPut;
    else
        throw EConvertError("\"kind\" must be \"method\", \"get\" or \"put\"");
    const json member = body.value("member", json());
    TKovaCall call;
    if (member.is_string())
        call.Member = FindDispMember(member.get<std::string>(), kind);
    else if (member.is_number_integer() && member.get<int64_t>() >= INT32_MIN &&
             member.get<int64_t>() <= INT32_MAX)
        call.Member = FindDispMember(member.get<int>(), kind);
    else
        throw EConvertError("\"member\" must be a name or a DISPID");
    if (!call.Member)
        throw EConvertError("IKovaGadget has no " + std::string(CallKindName(kind)) + " member " +
                            DumpKovaJson(member));
    const std::string memberText = "IKovaGadget." + call.Member->Name;
    if (!Carriable(call.Member->Result))
        throw EConvertError(memberText + " answers a " + VarTypeName(call.Member->Result) +
                            ", which this host cannot carry");
    const json args = body.value("args", json::array());
    if (!args.is_array()) throw EConvertError("\"args\" must be an array");
    if (args.size() != call.Member->Params.size())
        throw EConvertError(Format(
            "%s takes %d argument(s), %d given",
            {memberText, static_cast<int>(call.Member->Params.size()), static_cast<int>(args.size())}));
    for (size_t i = 0; i < args.size(); ++i) {
        const TDispParam& param = call.Member->Params[i];
        if (!Carriable(param.Type) || !JsonFits(args[i], param.Type))
            throw EConvertError(
                Format("%s: argument %d (%s) must be %s",
                       {memberText, static_cast<int>(i + 1), param.Name, JsonKindFor(param.Type)}));
        call.Args.push_back(ToVariant(args[i]));
    }
    return call;
}
