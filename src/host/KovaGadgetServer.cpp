#include "host/KovaGadgetServer.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "host/KovaGadgetEvents.h"
#include "host/KovaGadgetLive.h"
#include "host/KovaGadgetMembers.h"
#include "host/KovaGadgetPages.h"
#include "host/KovaGadgetProject.h"
#include "host/KovaGadgetRefresh.h"
#include "host/KovaGadgetReminders.h"
#include "host/KovaGadgetServerCalls.h"
#include "host/KovaGadgetServerDoor.h"
#include "host/KovaGadgetServerFiles.h"
#include "host/KovaGadgetUnit.h"
#include "host/UnitWebFormHost.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformMessageBox.h"
#include "platform/UnitPlatformShell.h"
#include "support/UnitLogging.h"
#include "time/UnitTimeUtils.h"
#include "watchlist/UnitKovaWatchList.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

using json = nlohmann::json;

constexpr const char* SecretHeader = "X-Kova-Secret";
// A quiet stream sends a comment line now and then; a page that has gone is noticed at the next poll.
constexpr auto KeepAliveEvery = std::chrono::seconds(5);
constexpr auto StreamPoll = std::chrono::milliseconds(500);
// How often the end of a gone page's control looks again while a dialog or a call unwinds.
constexpr auto PageEndRetry = std::chrono::milliseconds(100);

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return "";
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// Counts a call running on the main thread: calls that come meanwhile run inside its loop and are refused.
struct TDepth {
    int& Depth;
    explicit TDepth(int& depth) : Depth(depth) { ++Depth; }
    ~TDepth() { --Depth; }
};

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

struct TKovaGadgetServer::TImpl {
    // Tasks may outlive the server in the main thread's queue: they find it through this, on the main thread.
    struct TAlive {
        TImpl* Server;
    };

    TKovaGadgetServerOptions Options;
    std::string GadgetDir; // real path, no trailing delimiter
    std::string Secret = MakeKovaSecret();
    int Port = 0;
    std::shared_ptr<TAlive> Alive = std::make_shared<TAlive>(TAlive{this});
    TKovaHttpServer Http{TKovaDoorOptions{static_cast<size_t>(std::max(Options.Threads, 4))}};
    std::thread HttpThread;
    // Half the threads at most hold event streams: calls keep the others, however many tabs are open.
    TKovaEventHub Events{static_cast<size_t>(std::max(Options.Threads, 4)) / 2};
    TKovaGadgetPages Pages{std::chrono::milliseconds(Options.PageGraceMs), [alive = Alive] {
                               MainThreadQueue().Post([alive] {
                                   if (alive->Server) alive->Server->EndControlOfGonePages();
                               });
                           }};
    // Only for a host whose life follows its window: stops the whole host after its own grace.
    std::unique_ptr<TKovaGadgetPages> HostPages;
    TWebFormHost FormHost{[this](const json& forms) { Events.PublishForms(DumpKovaJson(forms)); }};

    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::atomic<bool> ListenReturned{false};
    // Main thread only.
    bool Stopping = false;
    int CallDepth = 0;
    std::unique_ptr<TKovaGadget> Gadget;
    std::unique_ptr<TKovaGadgetDispatch> Dispatch;
    // The control between a whole Init and its end, for the IsWorking polls that pool threads answer
    // themselves: a round trip through the main thread's queue cost the page's most frequent call two thread
    // wake-ups. Written by the main thread under the lock's exclusive hold.
    std::shared_mutex WorkingLock;
    const TKovaGadget* WorkingGadget = nullptr;
    TKovaReminderDelivery Reminders{
        [this](const std::string& event, const std::string& data) { Events.Publish(event, data); }};
    TKovaRefreshScheduler Refresh{
        [this](const std::string& event, const std::string& data) { Events.Publish(event, data); }};
    TKovaNoticeDelivery Notices{
        [this](const std::string& event, const std::string& data) { Events.Publish(event, data); }};
    TKovaReminderTicker ReminderTicker;

    explicit TImpl(const TKovaGadgetServerOptions& options);
    void RegisterRoutes();
    bool SecretGiven(const httplib::Request& req) const;
    bool Admit(const httplib::Request& req, httplib::Response& res) const;
    void ServeStatic(const httplib::Request& req, httplib::Response& res) const;
    void ServeEvents(const httplib::Request& req, httplib::Response& res);
    // Runs the task on the main thread and answers with what it finished the reply with.
    void OnMainThread(httplib::Response& res, std::function<void(TReply&)> task);
    void Call(const TKovaCall& call, TReply& reply);
    bool AnswerIsWorking(const TKovaCall& call, httplib::Response& res);
    void PublishForIsWorking(const TKovaGadget* gadget);
    void FormAction(const json& body, TReply& reply);
    void RegisterReminderRoutes();
    void RegisterLiveRoutes();
    // Every second on the main thread: due reminders first, then automatic refreshes.
    void Tick();
    void BeginStop();
    void TerminateControl();
    void EndControlOfGonePages();
    void RequestStop();
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
    Http.set_payload_max_length(TKovaHttpServer::MaxBodyBytes);
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
    if (options.HostGraceMs > 0)
        HostPages = std::make_unique<TKovaGadgetPages>(std::chrono::milliseconds(options.HostGraceMs),
                                                       [this] { RequestStop(); });
    RegisterRoutes();
    Port = options.Port == 0 ? Http.bind_to_any_port("127.0.0.1")
                             : (Http.bind_to_port("127.0.0.1", options.Port) ? options.Port : -1);
    if (Port <= 0) throw Exception("Cannot listen on 127.0.0.1:" + std::to_string(options.Port));
    if (!Http.RaiseBacklog()) Log("TKovaGadgetServer: the listen backlog stays at 5", lmkError);
}

bool TKovaGadgetServer::TImpl::SecretGiven(const httplib::Request& req) const {
    // An EventSource cannot send headers: the event stream alone may carry the secret in its address.
    if (!req.has_header(SecretHeader) && req.path == "/api/events")
        return KovaSecretMatches(req.get_param_value("s"), Secret);
    return KovaSecretMatches(req.get_header_value(SecretHeader), Secret);
}

bool TKovaGadgetServer::TImpl::Admit(const httplib::Request& req, httplib::Response& res) const {
    // A refusal leaves any body unread: the connection ends with the answer.
    const auto refuse = [&res](int status, const std::string& message) {
        SendKovaError(res, status, message);
        TKovaHttpServer::CloseAfterAnswer(res);
        return false;
    };
    // A page of another site reaches us only through a name of its own (DNS rebinding) or with its origin.
    const std::string host = LowerCase(req.get_header_value("Host"));
    const std::string port = ":" + std::to_string(Port);
    if (host != "127.0.0.1" + port && host != "localhost" + port)
        return refuse(403, "this host answers only to 127.0.0.1:" + std::to_string(Port));
    if (req.has_header("Origin")) {
        const std::string origin = LowerCase(req.get_header_value("Origin"));
        if (origin != Origin("127.0.0.1") && origin != Origin("localhost"))
            return refuse(403, "requests from other origins are refused");
    }
    if (req.path.rfind("/api/", 0) == 0 && !SecretGiven(req))
        return refuse(403, "the secret is missing or wrong");
    // httplib reads a body before it looks for the route: only the calls that take one get it read.
    const bool takesBody = (req.method == "POST" && (req.path == "/api/call" || req.path == "/api/form")) ||
                           (req.method == "PUT" && (req.path == "/api/reminders" || req.path == "/api/view"));
    if (!takesBody && req.method != "GET" && req.method != "HEAD" && req.method != "OPTIONS")
        return refuse(404, "no such call");
    if (!takesBody) return true;
    std::string type = req.get_header_value("Content-Type");
    type = LowerCase(Trim(type.substr(0, type.find(';'))));
    if (type != "application/json") return refuse(415, "the body must be application/json");
    if (req.has_header("Content-Length")) {
        const std::string length = req.get_header_value("Content-Length");
        if (length.empty() || length.size() > 18 ||
            length.find_first_not_of("0123456789") != std::string::npos)
            return refuse(400, "the Content-Length is not a number");
        if (std::stoull(length) > TKovaHttpServer::MaxBodyBytes) return refuse(413, KovaBodyTooLong);
    }
    return true;
}

void TKovaGadgetServer::TImpl::RegisterRoutes() {
    Http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        // Every answer goes to this machine, where compressing it costs more than it saves: cpp-httplib
        // answers a browser in brotli at its slowest quality, tens of milliseconds for each script of the
        // page's start. The request is httplib's own, not a constant, and its encodings are only asked
        // for when the answer is written.
        const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
        return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                               : httplib::Server::HandlerResponse::Handled;
    });
    Http.Post("/api/call",
              [this](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
                  json body;
                  if (!ReadKovaJson(reader, res, body)) return;
                  TKovaCall call;
                  try {
                      call = ParseKovaCall(body);
                  } catch (const std::exception& e) {
                      return SendKovaError(res, 400, e.what());
                  }
                  if (AnswerIsWorking(call, res)) return;
                  OnMainThread(res, [this, call](TReply& reply) { Call(call, reply); });
              });
    Http.Post("/api/form",
              [this](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
                  json body;
                  if (!ReadKovaJson(reader, res, body)) return;
                  if (!body.is_object()) return SendKovaError(res, 400, "the body must be a JSON object");
                  if (!body.contains("id") || !body["id"].is_number_integer())
                      return SendKovaError(res, 400, "\"id\" must be a form's id");
                  if (!body.contains("action") || !body["action"].is_string())
                      return SendKovaError(res, 400, "\"action\" must be a text");
                  if (body.contains("name") && !body["name"].is_string())
                      return SendKovaError(res, 400, "\"name\" must be a component's name");
                  OnMainThread(res, [this, body](TReply& reply) { FormAction(body, reply); });
              });
    Http.Get("/api/typelib", [](const httplib::Request&, httplib::Response& res) {
        SendKovaJson(res, 200, KovaTypeLibraryJson());
    });
    RegisterReminderRoutes();
    RegisterLiveRoutes();
    Http.Get("/api/events",
             [this](const httplib::Request& req, httplib::Response& res) { ServeEvents(req, res); });
    Http.Get(R"(/api/.*)", [](const httplib::Request&, httplib::Response& res) {
        SendKovaError(res, 404, "no such call");
    });
    Http.Get(R"(/.*)",
             [this](const httplib::Request& req, httplib::Response& res) { ServeStatic(req, res); });
}

void TKovaGadgetServer::TImpl::RegisterReminderRoutes() {
    const auto answer = [](TReply& reply, const TKovaRemindersAnswer& a) { reply.Finish(a.Status, a.Body); };
    Http.Get("/api/reminders", [this, answer](const httplib::Request&, httplib::Response& res) {
        OnMainThread(res, [this, answer](TReply& reply) {
            answer(reply, KovaRemindersGet(Gadget ? Gadget->WatchList() : nullptr));
        });
    });
    Http.Put("/api/reminders", [this, answer](const httplib::Request&, httplib::Response& res,
                                              const httplib::ContentReader& reader) {
        json body;
        if (!ReadKovaJson(reader, res, body)) return;
        if (const std::string wrong = CheckKovaRemindersBody(body); !wrong.empty())
            return SendKovaError(res, 400, wrong);
        OnMainThread(res, [this, answer, body](TReply& reply) {
            answer(reply, KovaRemindersPut(Gadget ? Gadget->WatchList() : nullptr, body));
        });
    });
    Http.Get("/api/schedule", [this](const httplib::Request&, httplib::Response& res) {
        OnMainThread(res, [this](TReply& reply) {
            nlohmann::json state = Refresh.State();
            // The last load as it is now, not as the last tick saw it: the page asks right after its own.
            if (TKovaWatchList* list = Gadget ? Gadget->WatchList() : nullptr) {
                const TKovaWatchList::TLoadOutcome last = list->LastLoad();
                state["lastLoad"] = {{"number", last.Number}, {"succeeded", last.Succeeded}};
            }
            reply.Finish(200, state);
        });
    });
}

void TKovaGadgetServer::TImpl::RegisterLiveRoutes() {
    const auto answer = [](TReply& reply, const TKovaLiveAnswer& a) { reply.Finish(a.Status, a.Body); };
    Http.Get("/api/items", [this, answer](const httplib::Request&, httplib::Response& res) {
        OnMainThread(res, [this, answer](TReply& reply) {
            answer(reply, KovaItemsGet(Gadget ? Gadget->WatchList() : nullptr, ExactNowUTC()));
        });
    });
    Http.Get("/api/view", [this, answer](const httplib::Request&, httplib::Response& res) {
        OnMainThread(res, [this, answer](TReply& reply) {
            answer(reply, KovaViewGet(Gadget ? Gadget->WatchList() : nullptr));
        });
    });
    Http.Put("/api/view", [this, answer](const httplib::Request&, httplib::Response& res,
                                         const httplib::ContentReader& reader) {
        json body;
        if (!ReadKovaJson(reader, res, body)) return;
        if (const std::string wrong = CheckKovaViewBody(body); !wrong.empty())
            return SendKovaError(res, 400, wrong);
        OnMainThread(res, [this, answer, body](TReply& reply) {
            const TKovaLiveAnswer result = KovaViewPut(Gadget ? Gadget->WatchList() : nullptr, body);
            // Every page of the host shows the rows anew, not only the one that chose.
            if (result.Status == 200) Events.Publish("view", DumpKovaJson(result.Body));
            answer(reply, result);
        });
    });
}

void TKovaGadgetServer::TImpl::Tick() {
    if (Stopping || !Gadget) return;
    TKovaWatchList* list = Gadget->WatchList();
    Reminders.Deliver(list);
    Refresh.Tick(list, Dispatch && FormHost.OpenCount() == 0 && CallDepth == 0, [this] {
        TDepth depth(CallDepth);
        const TKovaDispResult result = Dispatch->Invoke("LoadWatchlist", TDispKind::Method, {});
        if (!result.Succeeded) Log("Automatic refresh: " + result.ErrorMessage, lmkError);
    });
    // After the load's "finished" event, so that the page has the new rows when it hears of them.
    Notices.Deliver(list);
}

void TKovaGadgetServer::TImpl::ServeStatic(const httplib::Request& req, httplib::Response& res) const {
    const auto notFound = [&res] {
        res.status = 404;
        res.set_content("Not Found", "text/plain; charset=utf-8");
    };
    // What the control writes holds the user's watch list: it needs the secret, as the calls do.
    const auto refused = [&](const std::string& name) {
        if (!IsKovaControlOutput(name) || SecretGiven(req)) return false;
        SendKovaError(res, 403, "the secret is missing or wrong");
        return true;
    };
    const std::string relative = req.path == "/" ? "index.html" : req.path.substr(1);
    if (!IsKovaServable(relative)) return notFound();
    if (refused(relative)) return;
    // The file itself must lie inside the folder and be servable by its real name: a link to a data file,
    // or one leading out of the folder, is not the page's file.
    const std::string real = RealPath(GadgetDir + "/" + relative);
    if (real.size() <= GadgetDir.size() + 1 || real.compare(0, GadgetDir.size() + 1, GadgetDir + "/") != 0)
        return notFound();
    const std::string realRelative = real.substr(GadgetDir.size() + 1);
    struct stat info {};
    if (!IsKovaServable(realRelative) || ::stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return notFound();
    if (refused(realRelative)) return;
    std::ifstream file(real, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    if (!file && !file.eof()) return notFound();
    const char* type = KovaContentTypeFor(KovaFileExtension(relative));
    res.set_header("Cache-Control", IsKovaControlOutput(realRelative) ? "no-store" : "no-cache");
    res.set_content(content.str(), type ? type : "application/octet-stream");
}

void TKovaGadgetServer::TImpl::ServeEvents(const httplib::Request&, httplib::Response& res) {
    auto queue = Events.Subscribe();
    if (!queue)
        return SendKovaError(res, 503,
                             "too many pages of the gadget are open (" + std::to_string(Events.MaxStreams()) +
                                 " at most): close one and reload this page");
    // A page is known by its event stream: the control ends a grace after the last one has gone.
    Pages.Opened();
    if (HostPages) HostPages->Opened();
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
        [this, queue](bool) {
            Events.Unsubscribe(queue);
            Pages.Closed();
            if (HostPages) HostPages->Closed();
        });
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
    if (!reply->Done) return SendKovaError(res, 503, "the host is stopping");
    SendKovaJson(res, reply->Status, reply->Body);
}

// IsWorking reads only the manager's and the control's atomic flags. It is answered here when nothing waits
// in the main thread's queue, so that it still comes after every call the page sent before it; otherwise,
// and before Init or while the host stops, the main thread answers as it does every other call.
bool TKovaGadgetServer::TImpl::AnswerIsWorking(const TKovaCall& call, httplib::Response& res) {
    if (call.Member->Kind != TDispKind::PropertyGet || call.Member->Role != TMemberRole::Poll) return false;
    std::shared_lock lock(WorkingLock);
    if (!WorkingGadget || StopRequested || MainThreadQueue().PendingCount() > 0) return false;
    SendKovaJson(res, 200, {{"result", WorkingGadget->IsWorking()}});
    return true;
}

void TKovaGadgetServer::TImpl::PublishForIsWorking(const TKovaGadget* gadget) {
    std::unique_lock lock(WorkingLock);
    WorkingGadget = gadget;
}

void TKovaGadgetServer::TImpl::Call(const TKovaCall& call, TReply& reply) {
    const TDispMember& member = *call.Member;
    // A call that comes while a dialog is open, or while another call waits (Terminate's grace, a load's
    // wait), would run inside that call's loop: only reads may.
    if (member.Kind != TDispKind::PropertyGet && (FormHost.OpenCount() > 0 || CallDepth > 0)) {
        const std::string why = FormHost.OpenCount() > 0 ? "a dialog is open" : "another call is running";
        return reply.Finish(409, {{"error", "The gadget is busy: " + why + ". IKovaGadget." + member.Name +
                                                " was not called."},
                                  {"busy", true}});
    }
    TDepth depth(CallDepth);

    const bool init = member.Role == TMemberRole::Init && member.Kind == TDispKind::Method;
    const bool terminate = member.Role == TMemberRole::Terminate && member.Kind == TDispKind::Method;
    std::vector<TKovaVariant> args = call.Args;
    if (init) {
        // The control works in the folder this host serves; the page cannot point it anywhere else.
        const std::string& asked = std::get<std::string>(args[0]);
        if (!asked.empty() && RealPath(asked) != GadgetDir)
            return reply.Finish(400, {{"error", "IKovaGadget." + member.Name +
                                                    " takes the gadget directory this host serves (\"" +
                                                    GadgetDir + "\") or an empty text"}});
        // Another tab, or a page reloaded within the grace, shares the living control: building a new
        // one would end the list and dialogs the other page shows.
        if (Dispatch) return reply.Finish(200, {{"result", nullptr}});
        args[0] = GadgetDir;
        Gadget = std::make_unique<TKovaGadget>();
        Dispatch = std::make_unique<TKovaGadgetDispatch>(*Gadget);
    }
    if (!Dispatch)
        return reply.Finish(500, {{"error", "IKovaGadget." + member.Name +
                                                ": the control is not initialised; call Init first"}});
    if (terminate) PublishForIsWorking(nullptr);
    const TKovaDispResult result = Dispatch->Invoke(member.DispID, member.Kind, args);
    if (terminate) {
        Dispatch.reset();
        Gadget.reset();
    }
    if (init) {
        // A control whose Init failed answers IsWorking with that failure: only the main thread says so.
        try {
            Gadget->IsWorking();
            PublishForIsWorking(Gadget.get());
        } catch (const std::exception&) {
        }
    }
    if (!result.Succeeded) return reply.Finish(500, {{"error", result.ErrorMessage}});
    reply.Finish(200, {{"result", KovaResultJson(result.Value)}});
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
    json answer = {{"result", *result}};
    // The page believes the host's state of what it changed only from an event at least this new.
    if (const std::optional<uint64_t> version = FormHost.Version(static_cast<int>(id)))
        answer["version"] = *version;
    reply.Finish(200, answer);
}

void TKovaGadgetServer::TImpl::TerminateControl() {
    if (!Dispatch) return;
    PublishForIsWorking(nullptr);
    Dispatch->Invoke(RoleMember(TMemberRole::Terminate).DispID, TDispKind::Method, {});
    Dispatch.reset();
    Gadget.reset();
}

void TKovaGadgetServer::TImpl::EndControlOfGonePages() {
    if (Stopping || !Dispatch || Pages.Count() > 0) return;
    // A dialog's loop, or the call that showed it, runs below this task: the top-most dialog is cancelled as
    // its close box would, and the end waits until the calls have returned.
    if (FormHost.OpenCount() > 0) {
        const json forms = FormHost.FormsJson()["forms"];
        FormHost.Apply(forms.back()["id"].get<int>(), "close", "", nullptr);
    }
    if (FormHost.OpenCount() > 0 || CallDepth > 0) return Pages.AskAgain(PageEndRetry);
    // Calls that come during Terminate's grace are refused as busy; a page that comes back waits for it.
    TDepth depth(CallDepth);
    try {
        TerminateControl();
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadgetServer.EndControlOfGonePages");
    }
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

void TKovaGadgetServer::TImpl::RequestStop() {
    StopRequested = true;
    MainThreadQueue().Post([alive = Alive] {
        if (alive->Server) alive->Server->BeginStop();
    });
    MainThreadQueue().Wake();
}

void TKovaGadgetServer::RequestStop() {
    F->RequestStop();
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
            F->Events.Publish("openurl", DumpKovaJson({{"url", address}}));
            return TShellOpenResult{};
        });

    F->HttpThread = std::thread([this] {
        F->Http.listen_after_bind();
        F->ListenReturned = true;
    });
    F->ReminderTicker.Start([alive = F->Alive] {
        MainThreadQueue().Post([alive] {
            if (alive->Server) alive->Server->Tick();
        });
    });
    // RequestStop wakes the queue: the idle host sleeps until a task or the stop comes.
    MainThreadQueue().RunUntilWoken([this] { return F->StopRequested.load(); });
    F->ReminderTicker.Stop();
    F->Pages.Stop();
    if (F->HostPages) F->HostPages->Stop();
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
