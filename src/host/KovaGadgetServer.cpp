#include "host/KovaGadgetServer.h"

#include "host/KovaGadgetEvents.h"
#include "host/KovaGadgetProject.h"
#include "host/KovaGadgetUnit.h"
#include "host/UnitWebFormHost.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformMessageBox.h"
#include "platform/UnitPlatformShell.h"
#include "support/UnitExceptions.h"
#include "support/UnitLogging.h"
#include "support/UnitUtils.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <httplib.h>
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

using json = nlohmann::json;

constexpr const char* SecretHeader = "X-Kova-Secret";
// A stream whose page has gone is noticed only when a write fails: a thread of the pool waits until then.
constexpr auto KeepAliveEvery = std::chrono::seconds(5);
constexpr auto StreamPoll = std::chrono::milliseconds(500);

std::string Dump(const json& value) {
    // The control's texts are UTF-8 by convention; a stray byte must not cost the answer.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void SendJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(body), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& message, bool busy = false) {
    json body = {{"error", message}};
    if (busy) body["busy"] = true;
    SendJson(res, status, body);
}

bool SecretMatches(const std::string& given, const std::string& secret) {
    return given.size() == secret.size() && CRYPTO_memcmp(given.data(), secret.data(), secret.size()) == 0;
}

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return "";
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// ---- Static files

std::string Extension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : LowerCase(name.substr(dot + 1));
}

const char* ContentTypeFor(const std::string& extension) {
    static const std::pair<const char*, const char*> Types[] = {{"html", "text/html; charset=utf-8"},
                                                                {"css", "text/css; charset=utf-8"},
                                                                {"js", "text/javascript; charset=utf-8"},
                                                                {"mjs", "text/javascript; charset=utf-8"},
                                                                {"txt", "text/plain; charset=utf-8"},
                                                                {"png", "image/png"},
                                                                {"gif", "image/gif"},
                                                                {"jpg", "image/jpeg"},
                                                                {"jpeg", "image/jpeg"},
                                                                {"svg", "image/svg+xml"},
                                                                {"ico", "image/x-icon"},
                                                                {"webp", "image/webp"}};
    for (const auto& [ext, type] : Types)
        if (extension == ext) return type;
    return nullptr;
}

bool IsPageFile(const std::string& extension) {
    return extension == "html" || extension == "css" || extension == "js" || extension == "mjs";
}

bool IsImage(const std::string& extension) {
    return extension == "png" || extension == "gif" || extension == "jpg" || extension == "jpeg" ||
           extension == "svg" || extension == "ico" || extension == "webp";
}

// The control's own output files: rewritten while the page runs, so never cached.
bool IsControlOutput(const std::string& relative) {
    return relative == "result.txt" || relative == "details.html";
}

// Whether a path relative to the gadget directory (segments joined by "/") is one of the page's files.
bool IsServable(const std::string& relative) {
    if (relative.empty()) return false;
    std::vector<std::string> segments;
    std::stringstream parts(relative);
    for (std::string segment; std::getline(parts, segment, '/');)
        segments.push_back(segment);
    if (relative.back() == '/') return false;
    for (const std::string& segment : segments)
        if (segment.empty() || segment[0] == '.' || segment.find('\\') != std::string::npos ||
            segment.find('\0') != std::string::npos)
            return false;
    const std::string name = LowerCase(segments.back());
    // The data files, the settings, the log and the details template are the control's, not the page's.
    static const char* const Denied[] = {"kovadat.dat",    "ebtmp.dat",     "proxy.dat",
                                         "kovagadget.ini", "watchlist.dat", "detailstemp.html"};
    for (const char* denied : Denied)
        if (name == denied) return false;
    const std::string extension = Extension(name);
    if (extension == "dat" || extension == "ini" || extension == "log" || extension == "tmp") return false;
    if (IsControlOutput(relative)) return true;
    if (segments.size() > 1 && segments[0] == "images") return IsImage(extension);
    return IsPageFile(extension);
}

// ---- Calls

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

json FromVariant(const TKovaVariant& value) {
    if (std::holds_alternative<bool>(value)) return std::get<bool>(value);
    if (std::holds_alternative<int>(value)) return std::get<int>(value);
    if (std::holds_alternative<std::string>(value)) return std::get<std::string>(value);
    return nullptr;
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

json TypeLibraryJson() {
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

// One parsed call of the page.
struct TCall {
    const TDispMember* Member = nullptr;
    std::vector<TKovaVariant> Args;
};

// Checks the body against the type library; raises EConvertError with the page's mistake.
TCall ParseCall(const json& body) {
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
    TCall call;
    if (member.is_string())
        call.Member = FindDispMember(member.get<std::string>(), kind);
    else if (member.is_number_integer() && member.get<int64_t>() >= INT32_MIN &&
             member.get<int64_t>() <= INT32_MAX)
        call.Member = FindDispMember(member.get<int>(), kind);
    else
        throw EConvertError("\"member\" must be a name or a DISPID");
    if (!call.Member)
        throw EConvertError("IKovaGadget has no " + std::string(CallKindName(kind)) + " member " +
                            Dump(member));
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

// What a handler thread waits for from its task on the main thread.
struct TReply {
    std::mutex Lock;
    std::condition_variable Ready;
    bool Done = false;
    int Status = 500;
    json Body;

    void Finish(int status, json body) {
        {
            std::lock_guard lock(Lock);
            Status = status;
            Body = std::move(body);
            Done = true;
        }
        Ready.notify_all();
    }
};

} // namespace

std::string MakeKovaSecret() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw Exception("MakeKovaSecret: the system has no randomness");
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string secret;
    uint32_t buffer = 0;
    int bits = 0;
    for (unsigned char byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            secret += Alphabet[(buffer >> bits) & 0x3F];
        }
    }
    if (bits > 0) secret += Alphabet[(buffer << (6 - bits)) & 0x3F];
    return secret;
}

struct TKovaGadgetServer::TImpl {
    // Tasks may outlive the server in the main thread's queue: they find it through this, on the main thread.
    struct TAlive {
        TImpl* Server;
    };

    TKovaGadgetServerOptions Options;
    std::string GadgetDir; // real path, no trailing delimiter
    std::string Secret = MakeKovaSecret();
    int Port = 0;
    httplib::Server Http;
    std::thread HttpThread;
    TKovaEventHub Events;
    TWebFormHost FormHost{[this](const json& forms) { Events.PublishForms(Dump(forms)); }};
    std::shared_ptr<TAlive> Alive = std::make_shared<TAlive>(TAlive{this});

    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::atomic<bool> ListenReturned{false};
    // Main thread only.
    bool Stopping = false;
    int CallDepth = 0;
    std::unique_ptr<TKovaGadget> Gadget;
    std::unique_ptr<TKovaGadgetDispatch> Dispatch;

    explicit TImpl(const TKovaGadgetServerOptions& options);
    void RegisterRoutes();
    bool Admit(const httplib::Request& req, httplib::Response& res) const;
    void ServeStatic(const httplib::Request& req, httplib::Response& res) const;
    void ServeEvents(const httplib::Request& req, httplib::Response& res);
    // Runs the task on the main thread and answers with what it finished the reply with.
    void OnMainThread(httplib::Response& res, std::function<void(TReply&)> task);
    void Call(const TCall& call, TReply& reply);
    void FormAction(const json& body, TReply& reply);
    void BeginStop();
    void TerminateControl();
    std::string Origin(const std::string& host) const {
        return "http://" + host + ":" + std::to_string(Port);
    }
};

TKovaGadgetServer::TImpl::TImpl(const TKovaGadgetServerOptions& options) : Options(options) {
    GadgetDir = RealPath(options.GadgetDir);
    struct stat info {};
    if (GadgetDir.empty() || ::stat(GadgetDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw Exception("The gadget directory \"" + options.GadgetDir + "\" is not a folder");
    if (options.Port < 0 || options.Port > 65535)
        throw Exception("The port must be from 0 to 65535, not " + std::to_string(options.Port));
    const int threads = std::max(options.Threads, 4);
    Http.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    Http.set_payload_max_length(1024 * 1024);
    Http.set_read_timeout(10, 0);
    Http.set_write_timeout(10, 0);
    // An idle kept-alive connection holds a pool thread; browsers reconnect cheaply on loopback.
    Http.set_keep_alive_timeout(2);
    // The page polls IsWorking every few hundred milliseconds: one connection carries many polls.
    Http.set_keep_alive_max_count(100);
    Http.set_tcp_nodelay(true);
    Http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Content-Security-Policy", "frame-ancestors 'none'"}});
    RegisterRoutes();
    Port = options.Port == 0 ? Http.bind_to_any_port("127.0.0.1")
                             : (Http.bind_to_port("127.0.0.1", options.Port) ? options.Port : -1);
    if (Port <= 0) throw Exception("Cannot listen on 127.0.0.1:" + std::to_string(options.Port));
}

bool TKovaGadgetServer::TImpl::Admit(const httplib::Request& req, httplib::Response& res) const {
    // A page of another site reaches us only through a name of its own (DNS rebinding) or with its origin.
    const std::string host = LowerCase(req.get_header_value("Host"));
    const std::string port = ":" + std::to_string(Port);
    if (host != "127.0.0.1" + port && host != "localhost" + port) {
        SendError(res, 403, "this host answers only to 127.0.0.1:" + std::to_string(Port));
        return false;
    }
    if (req.has_header("Origin")) {
        const std::string origin = LowerCase(req.get_header_value("Origin"));
        if (origin != Origin("127.0.0.1") && origin != Origin("localhost")) {
            SendError(res, 403, "requests from other origins are refused");
            return false;
        }
    }
    if (req.path.rfind("/api/", 0) != 0) return true;
    std::string given = req.get_header_value(SecretHeader);
    if (!req.has_header(SecretHeader) && req.path == "/api/events") given = req.get_param_value("s");
    if (!SecretMatches(given, Secret)) {
        SendError(res, 403, "the secret is missing or wrong");
        return false;
    }
    if (req.method == "POST") {
        std::string type = req.get_header_value("Content-Type");
        type = LowerCase(Trim(type.substr(0, type.find(';'))));
        if (type != "application/json") {
            SendError(res, 415, "the body must be application/json");
            return false;
        }
    }
    return true;
}

void TKovaGadgetServer::TImpl::RegisterRoutes() {
    Http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                               : httplib::Server::HandlerResponse::Handled;
    });
    Http.Post("/api/call", [this](const httplib::Request& req, httplib::Response& res) {
        const json body = json::parse(req.body, nullptr, false);
        if (body.is_discarded()) return SendError(res, 400, "the body is not JSON");
        TCall call;
        try {
            call = ParseCall(body);
        } catch (const std::exception& e) {
            return SendError(res, 400, e.what());
        }
        OnMainThread(res, [this, call](TReply& reply) { Call(call, reply); });
    });
    Http.Post("/api/form", [this](const httplib::Request& req, httplib::Response& res) {
        const json body = json::parse(req.body, nullptr, false);
        if (body.is_discarded() || !body.is_object())
            return SendError(res, 400, "the body must be a JSON object");
        if (!body.contains("id") || !body["id"].is_number_integer())
            return SendError(res, 400, "\"id\" must be a form's id");
        if (!body.contains("action") || !body["action"].is_string())
            return SendError(res, 400, "\"action\" must be a text");
        if (body.contains("name") && !body["name"].is_string())
            return SendError(res, 400, "\"name\" must be a component's name");
        OnMainThread(res, [this, body](TReply& reply) { FormAction(body, reply); });
    });
    Http.Get("/api/typelib",
             [](const httplib::Request&, httplib::Response& res) { SendJson(res, 200, TypeLibraryJson()); });
    Http.Get("/api/events",
             [this](const httplib::Request& req, httplib::Response& res) { ServeEvents(req, res); });
    Http.Get(R"(/api/.*)",
             [](const httplib::Request&, httplib::Response& res) { SendError(res, 404, "no such call"); });
    Http.Post(R"(/.*)",
              [](const httplib::Request&, httplib::Response& res) { SendError(res, 404, "no such call"); });
    Http.Get(R"(/.*)",
             [this](const httplib::Request& req, httplib::Response& res) { ServeStatic(req, res); });
}

void TKovaGadgetServer::TImpl::ServeStatic(const httplib::Request& req, httplib::Response& res) const {
    const auto notFound = [&res] {
        res.status = 404;
        res.set_content("Not Found", "text/plain; charset=utf-8");
    };
    const std::string relative = req.path == "/" ? "index.html" : req.path.substr(1);
    if (!IsServable(relative)) return notFound();
    // The file itself must lie inside the folder and be servable by its real name: a link to a data file,
    // or one leading out of the folder, is not the page's file.
    const std::string real = RealPath(GadgetDir + "/" + relative);
    if (real.size() <= GadgetDir.size() + 1 || real.compare(0, GadgetDir.size() + 1, GadgetDir + "/") != 0)
        return notFound();
    const std::string realRelative = real.substr(GadgetDir.size() + 1);
    struct stat info {};
    if (!IsServable(realRelative) || ::stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return notFound();
    std::ifstream file(real, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    if (!file && !file.eof()) return notFound();
    const char* type = ContentTypeFor(Extension(relative));
    res.set_header("Cache-Control", IsControlOutput(realRelative) ? "no-store" : "no-cache");
    res.set_content(content.str(), type ? type : "application/octet-stream");
}

void TKovaGadgetServer::TImpl::ServeEvents(const httplib::Request&, httplib::Response& res) {
    auto queue = Events.Subscribe();
    res.set_header("Cache-Control", "no-store");
    auto lastWrite =
        std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    res.set_chunked_content_provider(
        "text/event-stream",
        [queue, lastWrite](size_t offset, httplib::DataSink& sink) {
            // The browser reconnects a second after a lost stream.
            std::string text = offset == 0 ? "retry: 1000\n\n" : "";
            std::string event;
            switch (queue->Next(event, StreamPoll)) {
            case TKovaEventQueue::TWait::Ended:
                sink.done();
                return true;
            case TKovaEventQueue::TWait::Timeout:
                if (!sink.is_writable()) return false;
                if (text.empty() && std::chrono::steady_clock::now() - *lastWrite < KeepAliveEvery)
                    return true;
                text += ": keep-alive\n\n";
                break;
            case TKovaEventQueue::TWait::Event:
                text += event;
                break;
            }
            *lastWrite = std::chrono::steady_clock::now();
            return sink.write(text.data(), text.size());
        },
        [this, queue](bool) { Events.Unsubscribe(queue); });
}

void TKovaGadgetServer::TImpl::OnMainThread(httplib::Response& res, std::function<void(TReply&)> task) {
    auto reply = std::make_shared<TReply>();
    MainThreadQueue().Post([alive = Alive, reply, task = std::move(task)] {
        if (!alive->Server || alive->Server->Stopping)
            return reply->Finish(503, {{"error", "the host is stopping"}});
        try {
            task(*reply);
        } catch (const std::exception& e) {
            reply->Finish(500, {{"error", e.what()}});
        }
        if (!reply->Done) reply->Finish(500, {{"error", "the call gave no answer"}});
    });
    std::unique_lock lock(reply->Lock);
    while (!reply->Done && !Finished)
        reply->Ready.wait_for(lock, std::chrono::milliseconds(100));
    if (!reply->Done) return SendError(res, 503, "the host is stopping");
    SendJson(res, reply->Status, reply->Body);
}

void TKovaGadgetServer::TImpl::Call(const TCall& call, TReply& reply) {
    const TDispMember& member = *call.Member;
    // A call that comes while a dialog is open, or while another call waits (Terminate's grace, a load's
    // wait), would run inside that call's loop: only reads may.
    if (member.Kind != TDispKind::PropertyGet && (FormHost.OpenCount() > 0 || CallDepth > 0)) {
        const std::string why = FormHost.OpenCount() > 0 ? "a dialog is open" : "another call is running";
        return reply.Finish(409, {{"error", "The gadget is busy: " + why + ". IKovaGadget." + member.Name +
                                                " was not called."},
                                  {"busy", true}});
    }
    struct TDepth {
        int& Depth;
        explicit TDepth(int& depth) : Depth(depth) { ++Depth; }
        ~TDepth() { --Depth; }
    } depth(CallDepth);

    const bool init = member.DispID == 217 && member.Kind == TDispKind::Method;
    const bool terminate = member.DispID == 223 && member.Kind == TDispKind::Method;
    std::vector<TKovaVariant> args = call.Args;
    if (init) {
        // The control works in the folder this host serves; the page cannot point it anywhere else.
        const std::string& asked = std::get<std::string>(args[0]);
        if (!asked.empty() && RealPath(asked) != GadgetDir)
            return reply.Finish(
                400, {{"error", "IKovaGadget.Init takes the gadget directory this host serves (\"" +
                                    GadgetDir + "\") or an empty text"}});
        args[0] = GadgetDir;
        // A reloaded page: the old control ends as if its page had gone.
        TerminateControl();
        Gadget = std::make_unique<TKovaGadget>();
        Dispatch = std::make_unique<TKovaGadgetDispatch>(*Gadget);
    }
    if (!Dispatch)
        return reply.Finish(500, {{"error", "IKovaGadget." + member.Name +
                                                ": the control is not initialised; call Init first"}});
    const TKovaDispResult result = Dispatch->Invoke(member.DispID, member.Kind, args);
    if (terminate) {
        Dispatch.reset();
        Gadget.reset();
    }
    if (!result.Succeeded) return reply.Finish(500, {{"error", result.ErrorMessage}});
    reply.Finish(200, {{"result", FromVariant(result.Value)}});
}

void TKovaGadgetServer::TImpl::FormAction(const json& body, TReply& reply) {
    const int64_t id = body["id"].get<int64_t>();
    const std::string action = body["action"].get<std::string>();
    const std::string name = body.value("name", std::string());
    std::optional<bool> result;
    try {
        if (id >= INT32_MIN && id <= INT32_MAX)
            result = FormHost.Apply(static_cast<int>(id), action, name, body.value("value", json()));
    } catch (const EFormActionError& e) {
        return reply.Finish(400, {{"error", e.what()}});
    }
    if (!result) return reply.Finish(404, {{"error", "no open form has the id " + std::to_string(id)}});
    reply.Finish(200, {{"result", *result}});
}

void TKovaGadgetServer::TImpl::TerminateControl() {
    if (!Dispatch) return;
    Dispatch->Invoke(223, TDispKind::Method, {});
    Dispatch.reset();
    Gadget.reset();
}

void TKovaGadgetServer::TImpl::BeginStop() {
    Stopping = true;
    // The dialogs' loops unwind with Cancel; the calls that showed them return.
    FormHost.Stop();
}

TKovaGadgetServer::TKovaGadgetServer(const TKovaGadgetServerOptions& options)
    : F(std::make_unique<TImpl>(options)) {
}

TKovaGadgetServer::~TKovaGadgetServer() {
    // A server that never ran still holds a bound socket and no thread.
    F->Alive->Server = nullptr;
    F->Finished = true;
    F->Events.Stop();
    if (F->HttpThread.joinable()) {
        F->Http.stop();
        F->HttpThread.join();
    }
}

int TKovaGadgetServer::Port() const {
    return F->Port;
}

const std::string& TKovaGadgetServer::Secret() const {
    return F->Secret;
}

std::string TKovaGadgetServer::PageUrl() const {
    return "http://127.0.0.1:" + std::to_string(F->Port) + "/#" + F->Secret;
}

void TKovaGadgetServer::RequestStop() {
    F->StopRequested = true;
    MainThreadQueue().Post([alive = F->Alive] {
        if (alive->Server) alive->Server->BeginStop();
    });
    MainThreadQueue().Wake();
}

void TKovaGadgetServer::Run() {
    SetMainThread();
    TFormHost* previousFormHost = SetFormHost(&F->FormHost);
    TMessageBoxHandler previousMessageBox =
        SetMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
            return F->FormHost.ShowMessage(text, caption, flags);
        });
    TShellOpenHandler previousOpener;
    if (F->Options.PageOpensUrls)
        previousOpener = SetShellOpenHandler([this](const std::string& address) {
            F->Events.Publish("openurl", Dump({{"url", address}}));
            return TShellOpenResult{};
        });

    F->HttpThread = std::thread([this] {
        F->Http.listen_after_bind();
        F->ListenReturned = true;
    });
    MainThreadQueue().RunUntil([this] { return F->StopRequested.load(); });
    F->BeginStop();
    try {
        F->TerminateControl();
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadgetServer.Run");
    }
    F->Alive->Server = nullptr;
    // Calls that came meanwhile answer that the host is stopping.
    MainThreadQueue().ProcessPending();
    F->Finished = true;
    F->Events.Stop();
    // httplib ignores a stop that comes before its accept loop has started.
    while (!F->Http.is_running() && !F->ListenReturned)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    F->Http.stop();
    F->HttpThread.join();

    if (F->Options.PageOpensUrls) SetShellOpenHandler(previousOpener);
    SetMessageBoxHandler(previousMessageBox);
    SetFormHost(previousFormHost);
}
