#include "host/KovaGadgetMembers.h"

#include "base/UnitUtils.h"

#include <type_traits>
#include <utility>

namespace {

using V = TVarType;
using R = TMemberRole;

// Calls a member function of the control with the dispatch's checked arguments.
template <class Result, class... Arg, class Call, size_t... I>
TKovaVariant ApplyArgs(Call&& call, const TKovaArgs& args, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<Result>) {
        call(std::get<std::decay_t<Arg>>(args[I])...);
        return {};
    } else {
        return TKovaVariant{call(std::get<std::decay_t<Arg>>(args[I])...)};
    }
}

template <class Result, class... Arg>
TKovaVariant Apply(TKovaGadget& g, Result (TKovaGadget::*f)(Arg...), const TKovaArgs& args) {
    return ApplyArgs<Result, Arg...>([&](auto&&... a) { return (g.*f)(a...); }, args,
                                     std::index_sequence_for<Arg...>{});
}

template <class Result, class... Arg>
TKovaVariant Apply(TKovaGadget& g, Result (TKovaGadget::*f)(Arg...) const, const TKovaArgs& args) {
    return ApplyArgs<Result, Arg...>([&](auto&&... a) { return (g.*f)(a...); }, args,
                                     std::index_sequence_for<Arg...>{});
}

template <auto F> TKovaVariant Bind(TKovaGadget& g, const TKovaArgs& args) {
    return Apply(g, F, args);
}

TKovaVariant InitialFor(V type) {
    switch (type) {
    case V::Bool:
        return false;
    case V::BStr:
        return std::string();
    case V::Font:
    case V::Empty:
        return {};
    default:
        return 0;
    }
}

TKovaGadgetMember Stock(int id, const char* name, V type, TKovaVariant initial = {},
                        TMemberShape shape = TMemberShape::ReadWrite) {
    if (std::holds_alternative<std::monostate>(initial)) initial = InitialFor(type);
    return {id, name, shape, type, {}, nullptr, nullptr, std::move(initial)};
}

TKovaGadgetMember Method(int id, const char* name, TKovaMemberHandler call,
                         std::vector<TDispParam> params = {}, V result = V::Empty, R role = R::None) {
    return {id, name, TMemberShape::Method, result, std::move(params), call, nullptr, {}, role};
}

TKovaGadgetMember ReadOnly(int id, const char* name, V type, TKovaMemberHandler get, R role = R::None) {
    return {id, name, TMemberShape::ReadOnly, type, {}, get, nullptr, {}, role};
}

TKovaGadgetMember ReadWrite(int id, const char* name, V type, TKovaMemberHandler get,
                            TKovaMemberHandler put) {
    return {id, name, TMemberShape::ReadWrite, type, {}, get, put, {}};
}

using G = TKovaGadget;

TKovaGadgetMemberTable BuildTable() {
    return {
        Stock(201, "Visible", V::Bool, true),
        Stock(202, "AutoScroll", V::Bool),
        Stock(203, "AutoSize", V::Bool),
        Stock(204, "AxBorderStyle", V::TxActiveFormBorderStyle),
        Stock(-518, "Caption", V::BStr),
        Stock(-501, "Color", V::Color),
        Stock(-512, "Font", V::Font, {}, TMemberShape::ReadWriteRef),
        Stock(205, "KeyPreview", V::Bool),
        Stock(206, "PixelsPerInch", V::I4, 96),
        Stock(207, "PrintScale", V::TxPrintScale),
        Stock(208, "Scaled", V::Bool, true),
        Stock(209, "Active", V::Bool, {}, TMemberShape::ReadOnly),
        Stock(210, "DropTarget", V::Bool),
        Stock(211, "HelpFile", V::BStr),
        Stock(212, "ScreenSnap", V::Bool),
        Stock(213, "SnapBuffer", V::I4),
        Stock(214, "DoubleBuffered", V::Bool),
        Stock(215, "AlignDisabled", V::Bool, {}, TMemberShape::ReadOnly),
        Stock(216, "VisibleDockClientCount", V::I4, {}, TMemberShape::ReadOnly),
        Stock(-514, "Enabled", V::Bool, true),

        Method(217, "Init", Bind<&G::Init>, {{"iGadgetPath", V::BStr}}, V::Empty, R::Init),
        ReadWrite(218, "Undocked", V::Bool, Bind<&G::Undocked>, Bind<&G::SetUndocked>),
        Method(219, "NextPage", Bind<&G::NextPage>),
        Method(220, "PrevPage", Bind<&G::PrevPage>),
        Method(221, "LoadWatchlist", Bind<&G::LoadWatchlist>),
        Method(222, "ShowOptions", Bind<&G::ShowOptions>),
        Method(223, "Terminate", Bind<&G::Terminate>, {}, V::Empty, R::Terminate),
        Method(224, "FirstPage", Bind<&G::FirstPage>),
        Method(225, "LastPage", Bind<&G::LastPage>),
        ReadWrite(226, "UpdatesAvailable", V::Bool, Bind<&G::UpdatesAvailable>,
                  Bind<&G::SetUpdatesAvailable>),
        ReadOnly(227, "LinkDownloadPage", V::BStr, Bind<&G::LinkDownloadPage>),
        ReadOnly(228, "RefreshAuctionsAtStart", V::Bool, Bind<&G::RefreshAuctionsAtStart>),
        ReadOnly(229, "RefreshIntervalInMinutes", V::I4, Bind<&G::RefreshIntervalInMinutes>),
        ReadOnly(230, "RefreshAuctionsAutomatically", V::Bool, Bind<&G::RefreshAuctionsAutomatically>),
        Method(231, "BuildDetailsFileFor", Bind<&G::BuildDetailsFileFor>, {{"iArticleNr", V::BStr}}, V::Bool),
        ReadOnly(232, "IsWorking", V::Bool, Bind<&G::IsWorking>, R::Poll),
    };
}

const char* ShapeText(TMemberShape shape) {
    switch (shape) {
    case TMemberShape::Method:
        return "method";
    case TMemberShape::ReadOnly:
        return "property, read-only";
    case TMemberShape::ReadWrite:
        return "property, read-write";
    case TMemberShape::ReadWriteRef:
        return "property, read-write, put by reference";
    }
    return "";
}

const char* RoleText(TMemberRole role) {
    switch (role) {
    case R::Init:
        return "Builds the control for the folder the host serves (an empty text means that folder); a "
               "second "
               "page shares the living control";
    case R::Terminate:
        return "Ends the control; the host also calls it when the last page has gone";
    case R::Poll:
        return "Answered on the request's thread when nothing waits in the main thread's queue";
    case R::None:
        break;
    }
    return "Runs on the main thread";
}

std::string ValueText(const TKovaVariant& value) {
    if (std::holds_alternative<bool>(value)) return std::get<bool>(value) ? "true" : "false";
    if (std::holds_alternative<int>(value)) return IntToStr(std::get<int>(value));
    if (std::holds_alternative<std::string>(value)) return "\"" + std::get<std::string>(value) + "\"";
    return "";
}

std::string ParamsText(const std::vector<TDispParam>& params) {
    std::string text;
    for (const TDispParam& p : params)
        text += (text.empty() ? "`" : ", `") + p.Name + "` " + VarTypeName(p.Type) +
                (p.ByRef ? " (by reference)" : "");
    return text.empty() ? "—" : text;
}

std::string MemberText(const TDispMember& member) {
    return Format("IKovaGadget.%s (%s)", {member.Name, DispKindName(member.Kind)});
}

// The variant kind a type library type travels as, or empty for types this host cannot carry.
const char* ExpectedKind(TVarType type) {
    switch (type) {
    case TVarType::Bool:
        return "bool";
    case TVarType::I2:
    case TVarType::I4:
    case TVarType::Color:
    case TVarType::TxActiveFormBorderStyle:
    case TVarType::TxPrintScale:
        return "int";
    case TVarType::BStr:
        return "string";
    case TVarType::Empty:
    case TVarType::Font:
        break;
    }
    return "";
}

int EnumLimit(TVarType type) {
    switch (type) {
    case TVarType::TxActiveFormBorderStyle:
        return 3;
    case TVarType::TxPrintScale:
        return 2;
    case TVarType::I2:
        return 32767;
    default:
        return -1;
    }
}

void CheckArguments(const TDispMember& member, const std::vector<TKovaVariant>& args) {
    if (args.size() != member.Params.size())
        throw EKovaDispatchError(Format(
            "%s takes %d argument(s), %d given",
            {MemberText(member), static_cast<int>(member.Params.size()), static_cast<int>(args.size())}));
    for (size_t i = 0; i < args.size(); ++i) {
        const TDispParam& param = member.Params[i];
        const char* expected = ExpectedKind(param.Type);
        if (!*expected)
            throw EKovaDispatchError(Format("%s: argument %s of type %s cannot be passed through this host",
                                            {MemberText(member), param.Name, VarTypeName(param.Type)}));
        if (std::string(expected) != KovaVariantKindName(args[i]))
            throw EKovaDispatchError(
                Format("%s: argument %d (%s) must be %s (%s), not %s",
                       {MemberText(member), static_cast<int>(i + 1), param.Name, VarTypeName(param.Type),
                        expected, KovaVariantKindName(args[i])}));
        const int limit = EnumLimit(param.Type);
        if (limit >= 0) {
            const int value = std::get<int>(args[i]);
            const int low = param.Type == TVarType::I2 ? -32768 : 0;
            if (value < low || value > limit)
                throw EKovaDispatchError(
                    Format("%s: argument %d (%s) is %d, outside %d to %d",
                           {MemberText(member), static_cast<int>(i + 1), param.Name, value, low, limit}));
        }
    }
}

const TDispMember* Find(const std::vector<TDispMember>& members, const std::string& name, TDispKind kind) {
    for (const auto& m : members)
        if (m.Kind == kind && SameText(m.Name, name)) return &m;
    return nullptr;
}

const TDispMember* Find(const std::vector<TDispMember>& members, int dispID, TDispKind kind) {
    for (const auto& m : members)
        if (m.Kind == kind && m.DispID == dispID) return &m;
    return nullptr;
}

} // namespace

const TKovaGadgetMemberTable& KovaGadgetMemberTable() {
    static const TKovaGadgetMemberTable table = BuildTable();
    return table;
}

std::vector<TDispMember> ExpandMembers(const TKovaGadgetMemberTable& table) {
    using K = TDispKind;
    std::vector<TDispMember> members;
    for (const TKovaGadgetMember& m : table) {
        if (m.Shape == TMemberShape::Method) {
            members.push_back({m.DispID, m.Name, K::Method, m.Params, m.Type, m.Role});
            continue;
        }
        members.push_back({m.DispID, m.Name, K::PropertyGet, {}, m.Type, m.Role});
        if (m.Shape == TMemberShape::ReadOnly) continue;
        members.push_back({m.DispID, m.Name, K::PropertyPut, {{"Value", m.Type}}, V::Empty, m.Role});
        if (m.Shape == TMemberShape::ReadWriteRef)
            members.push_back({m.DispID, m.Name, K::PropertyPutRef, {{"Value", m.Type}}, V::Empty, m.Role});
    }
    return members;
}

std::string KovaGadgetMemberList(const TKovaGadgetMemberTable& table) {
    std::string text =
        "| DISPID | Member | Kind | Arguments | Value | In this host |\n|---|---|---|---|---|---|\n";
    for (const TKovaGadgetMember& m : table) {
        std::string host = RoleText(m.Role);
        if (!m.Call)
            host = "Stock window property, kept as a plain value" +
                   (ValueText(m.Initial).empty() ? std::string(" that cannot cross this host")
                                                 : " (first " + ValueText(m.Initial) + ")");
        text += Format("| %d | `%s` | %s | %s | %s | %s |\n",
                       {m.DispID, m.Name, ShapeText(m.Shape), ParamsText(m.Params),
                        m.Type == V::Empty ? std::string("—") : std::string(VarTypeName(m.Type)), host});
    }
    text +=
        "\nEvents (`IKovaGadgetEvents`; this host raises none of them):\n\n| DISPID | Event | Arguments |\n"
        "|---|---|---|\n";
    for (const TDispMember& e : IKovaGadgetEventsMembers())
        text += Format("| %d | `%s` | %s |\n", {e.DispID, e.Name, ParamsText(e.Params)});
    return text;
}

const std::vector<TDispMember>& IKovaGadgetMembers() {
    static const std::vector<TDispMember> members = ExpandMembers(KovaGadgetMemberTable());
    return members;
}

const TDispMember* FindDispMember(const std::string& name, TDispKind kind) {
    return Find(IKovaGadgetMembers(), name, kind);
}

const TDispMember* FindDispMember(int dispID, TDispKind kind) {
    return Find(IKovaGadgetMembers(), dispID, kind);
}

const TDispMember& RoleMember(TMemberRole role) {
    for (const auto& m : IKovaGadgetMembers())
        if (m.Role == role) return m;
    throw EKovaDispatchError("IKovaGadget has no member for a role the host needs");
}

const char* KovaVariantKindName(const TKovaVariant& value) {
    static const char* const Names[] = {"empty", "bool", "int", "string"};
    return Names[value.index()];
}

TKovaGadgetDispatch::TKovaGadgetDispatch(TKovaGadget& gadget, const TKovaGadgetMemberTable& table)
    : FGadget(gadget), FTable(table), FMembers(ExpandMembers(table)) {
}

TKovaDispResult TKovaGadgetDispatch::Invoke(const std::string& name, TDispKind kind,
                                            const std::vector<TKovaVariant>& args) {
    return Call(Find(FMembers, name, kind), "\"" + name + "\"", kind, args);
}

TKovaDispResult TKovaGadgetDispatch::Invoke(int dispID, TDispKind kind,
                                            const std::vector<TKovaVariant>& args) {
    return Call(Find(FMembers, dispID, kind), "DISPID " + IntToStr(dispID), kind, args);
}

TKovaDispResult TKovaGadgetDispatch::Call(const TDispMember* member, const std::string& requested,
                                          TDispKind kind, const std::vector<TKovaVariant>& args) {
    TKovaDispResult result;
    try {
        if (!member)
            throw EKovaDispatchError(
                Format("IKovaGadget has no %s member %s", {DispKindName(kind), requested}));
        CheckArguments(*member, args);
        result.Value = CallChecked(*member, args);
    } catch (const std::exception& e) {
        result.Succeeded = false;
        result.ErrorMessage = e.what();
    } catch (...) {
        result.Succeeded = false;
        result.ErrorMessage = "IKovaGadget: unknown failure";
    }
    return result;
}

TKovaVariant TKovaGadgetDispatch::CallChecked(const TDispMember& member,
                                              const std::vector<TKovaVariant>& args) {
    const TKovaGadgetMember* entry = nullptr;
    for (const TKovaGadgetMember& m : FTable)
        if (m.DispID == member.DispID) entry = &m;
    const bool put = member.Kind != TDispKind::PropertyGet && member.Kind != TDispKind::Method;
    if (entry && entry->Call) return put ? entry->Put(FGadget, args) : entry->Call(FGadget, args);
    // A stock window property: the page may set and read it; the control draws no window.
    if (put) {
        FWindowProperties[member.DispID] = args[0];
        return {};
    }
    if (!*ExpectedKind(member.Result))
        throw EKovaDispatchError(Format("%s: a value of type %s cannot be passed through this host",
                                        {MemberText(member), VarTypeName(member.Result)}));
    const auto found = FWindowProperties.find(member.DispID);
    if (found != FWindowProperties.end()) return found->second;
    return entry ? entry->Initial : TKovaVariant{};
}
