#include "SandboxServer.h"

#include "SandboxIdentity.h"
#include "SandboxOAuth.h"
#include "SandboxOutbid.h"
#include "SandboxPictures.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformClock.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <optional>
#include <poll.h>
#include <stdexcept>

namespace {

// The TLS connection the current server thread is serving. cpp-httplib runs the handshake and the handlers of
// one connection on the same pool thread, so the handshake callback can note it for the "drop" fault.
thread_local SSL* CurrentConnection = nullptr;

// Whether this thread's handshake serves the untrusted certificate, once decided: a retried hello (TLS 1.3
// HelloRetryRequest) asks for the certificate again but is still the same connection.
thread_local std::optional<bool> CurrentConnectionUntrusted;

void NoteConnection(const SSL* ssl, int where, int) {
    if (!(where & SSL_CB_HANDSHAKE_START)) return;
    CurrentConnection = const_cast<SSL*>(ssl);
    CurrentConnectionUntrusted.reset();
}

// Makes every further write of the connection fail, so that the server closes it without sending a byte.
void DropCurrentConnection() {
    if (!CurrentConnection) return;
    SSL_set0_wbio(CurrentConnection, BIO_new_mem_buf("", 0));
}

// True once the client of the current connection has closed it or reset it.
bool CurrentClientHasLeft() {
    const int socket = CurrentConnection ? SSL_get_fd(CurrentConnection) : -1;
    if (socket < 0) return false;
    pollfd state{socket, POLLRDHUP, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

const char NotXmlBytes[] = "\xff\xfeService temporarily unavailable <<< & >>> \x01\x02\x03";

std::string HtmlPage(const std::string& title, const std::string& content) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
           "</title></head>\n<body style=\"font-family:sans-serif;max-width:32em;margin:3em auto\">\n<h1>" +
           HtmlEscape(title) + "</h1>\n" + content + "\n</body></html>\n";
}

std::string SignInForm(const std::string& runame, const std::string& sid, const std::string& message) {
    std::string content;
    if (!message.empty())
        content += "<p class=\"error\" style=\"color:#b00\">" + HtmlEscape(message) + "</p>\n";
    content += "<p>Sign in to grant the application <b>" + HtmlEscape(runame) +
               "</b> access to your eBay account.</p>\n"
               "<form method=\"post\" action=\"/signin\">\n"
               "<input type=\"hidden\" name=\"runame\" value=\"" +
               HtmlEscape(runame) +
               "\">\n"
               "<input type=\"hidden\" name=\"sid\" value=\"" +
               HtmlEscape(sid) +
               "\">\n"
               "<p><label for=\"username\">User ID</label><br>"
               "<input type=\"text\" id=\"username\" name=\"username\" autofocus></p>\n"
               "<p><button type=\"submit\" name=\"agree\" value=\"1\">I agree</button></p>\n</form>";
    return HtmlPage("Sign in", content);
}

// The secret id of a sign-in link; eBay's own links name it SessID.
std::string SessionParam(const httplib::Request& req) {
    return req.has_param("sid") ? req.get_param_value("sid") : req.get_param_value("SessID");
}

void SendJson(httplib::Response& res, int status, const nlohmann::json& value) {
    res.status = status;
    // Request bodies may hold any bytes; the log must still be sent.
    res.set_content(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void SendJsonError(httplib::Response& res, int status, const std::string& message) {
    SendJson(res, status, {{"error", message}});
}

// The request's JSON object, or nullopt after answering 400.
std::optional<nlohmann::json> ReadJsonObject(const httplib::Request& req, httplib::Response& res) {
    nlohmann::json value = nlohmann::json::parse(req.body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        SendJsonError(res, 400, "the body must be a JSON object");
        return std::nullopt;
    }
    return value;
}

// A text field of a control request, or nullopt after answering 400.
std::optional<std::string> RequireText(const nlohmann::json& value, const char* name,
                                       httplib::Response& res) {
    if (!value.contains(name) || !value[name].is_string() || value[name].get<std::string>().empty()) {
        SendJsonError(res, 400, std::string("\"") + name + "\" must be a non-empty string");
        return std::nullopt;
    }
    return value[name].get<std::string>();
}

} // namespace

TSandboxServer::TSandboxServer(TSandboxService& service, const TSandboxCertificates& certificates,
                               int latencyMs)
    : FService(service), FLatencyMs(latencyMs), FUntrusted(TSandboxCertificates::Generate()) {
    FServer = std::make_unique<httplib::SSLServer>([this, &certificates](SSL_CTX& ctx) {
        SSL_CTX_set_info_callback(&ctx, NoteConnection);
        SSL_CTX_set_cert_cb(&ctx, ChooseCertificate, this);
        // No session is resumed, so every new connection shows a certificate and counts for badcert.
        SSL_CTX_set_session_cache_mode(&ctx, SSL_SESS_CACHE_OFF);
        SSL_CTX_set_options(&ctx, SSL_OP_NO_TICKET);
        return SSL_CTX_set_num_tickets(&ctx, 0) == 1 &&
               SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION) == 1 &&
               SSL_CTX_use_certificate(&ctx, certificates.ServerCertificate()) == 1 &&
               SSL_CTX_use_PrivateKey(&ctx, certificates.ServerKey()) == 1 &&
               SSL_CTX_check_private_key(&ctx) == 1;
    });
    if (!FServer->is_valid()) throw std::runtime_error("The TLS server could not be set up");
    FServer->set_payload_max_length(8 * 1024 * 1024);
    FServer->set_read_timeout(10, 0);
    FServer->set_write_timeout(10, 0);
    FServer->set_keep_alive_timeout(2);
    // eBay keeps a connection for many requests; the library's default closes it after five.
    FServer->set_keep_alive_max_count(100);
    // Without it a kept-alive connection waits for delayed acknowledgements, some 40 ms per answer.
    FServer->set_tcp_nodelay(true);
    RegisterRoutes();
}

TSandboxServer::~TSandboxServer() = default;

int TSandboxServer::Bind(int port) {
    const int bound = port == 0 ? FServer->bind_to_any_port("127.0.0.1")
                                : (FServer->bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) throw std::runtime_error("Cannot listen on 127.0.0.1:" + std::to_string(port));
    return bound;
}

void TSandboxServer::Run() {
    FServer->listen_after_bind();
    FRunReturned = true;
}

void TSandboxServer::WaitUntilServing() const {
    while (!FServer->is_running() && !FRunReturned)
        SleepMs(1);
}

void TSandboxServer::Stop() {
    FStopping = true;
    // cpp-httplib ignores a stop that comes before its accept loop has started.
    WaitUntilServing();
    FServer->stop();
}

bool TSandboxServer::WaitForClient(int milliseconds) const {
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(milliseconds);
    for (;;) {
        if (FStopping || CurrentClientHasLeft()) return false;
        const uint64_t now = GetTickCount64();
        if (now >= until) return true;
        SleepMs(static_cast<uint32_t>(std::min<uint64_t>(until - now, 10)));
    }
}

int TSandboxServer::ChooseCertificate(SSL* ssl, void* server) {
    const TSandboxServer& self = *static_cast<const TSandboxServer*>(server);
    if (!CurrentConnectionUntrusted) CurrentConnectionUntrusted = self.FService.TakeCertificateFault();
    if (!*CurrentConnectionUntrusted) return 1;
    return SSL_use_certificate(ssl, self.FUntrusted.ServerCertificate()) == 1 &&
                   SSL_use_PrivateKey(ssl, self.FUntrusted.ServerKey()) == 1
               ? 1
               : 0;
}

void TSandboxServer::HandleApi(const httplib::Request& req, httplib::Response& res) {
    TSandboxHeaders headers;
    for (const auto& [name, value] : req.headers) {
        auto [it, inserted] = headers.emplace(name, value);
        if (!inserted) it->second += ", " + value;
    }
    const std::string callName = Trim(req.get_header_value("X-EBAY-API-CALL-NAME"));
    const std::optional<TSandboxFault> fault = FService.ReceiveApiRequest(callName, headers, req.body);
    if (FLatencyMs > 0) WaitForClient(FLatencyMs);
    if (fault && fault->Kind == TSandboxFaultKind::Delay) WaitForClient(fault->DelayMs);
    std::optional<int> announcedPages;
    if (fault && fault->Kind == TSandboxFaultKind::Pages) announcedPages = fault->PageCount;
    const std::string answer = FService.AnswerApiRequest(callName, headers, req.body, announcedPages);
    // A kept-alive connection would never see the certificate, nor the drop as such: the client must come
    // back on a new one.
    if (FService.NewConnectionsWanted()) res.set_header("Connection", "close");
    if (fault && fault->Kind != TSandboxFaultKind::Delay && fault->Kind != TSandboxFaultKind::Pages)
        return ApplyFault(*fault, answer, res);
    res.set_content(answer, "text/xml; charset=utf-8");
}

void TSandboxServer::ApplyFault(const TSandboxFault& fault, const std::string& answer,
                                httplib::Response& res) {
    switch (fault.Kind) {
    case TSandboxFaultKind::Status:
        res.status = fault.Status;
        if (fault.Body.empty())
            res.set_content(HtmlPage("Error " + std::to_string(fault.Status), ""), "text/html");
        else
            res.set_content(fault.Body, "text/xml");
        return;
    case TSandboxFaultKind::Empty:
        res.set_content("", "text/xml");
        return;
    case TSandboxFaultKind::NotXml:
        res.set_content(std::string(NotXmlBytes, sizeof(NotXmlBytes) - 1), "text/xml");
        return;
    case TSandboxFaultKind::Xml:
        res.set_content(fault.Body, "text/xml; charset=utf-8");
        return;
    case TSandboxFaultKind::Truncated:
        // The headers promise the whole answer; half of it arrives before the connection closes.
        res.set_content_provider(answer.size(), "text/xml; charset=utf-8",
                                 [answer](size_t, size_t, httplib::DataSink& sink) {
                                     sink.write(answer.data(), answer.size() / 2);
                                     return false;
                                 });
        return;
    case TSandboxFaultKind::Drop:
        DropCurrentConnection();
        res.set_content(answer, "text/xml");
        return;
    case TSandboxFaultKind::Trickle:
        res.set_content_provider(
            answer.size(), "text/xml; charset=utf-8",
            [this, answer, ms = fault.DelayMs](size_t offset, size_t, httplib::DataSink& sink) {
                return WaitForClient(ms) && sink.write(answer.data() + offset, 1);
            });
        return;
    case TSandboxFaultKind::CallLimit:
        res.set_content(FService.AnswerCallLimit(fault.Call.empty() ? "GetMyeBayBuying" : fault.Call),
                        "text/xml; charset=utf-8");
        return;
    case TSandboxFaultKind::Delay:
    case TSandboxFaultKind::Pages:
    case TSandboxFaultKind::BadCert:
        return;
    }
}

void TSandboxServer::RegisterRoutes() {
    FServer->Post("/ws/api.dll",
                  [this](const httplib::Request& req, httplib::Response& res) { HandleApi(req, res); });

    // A browser that shows this page has accepted the sandbox's certificate, and so shows its pictures.
    FServer->Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            HtmlPage("kova-sandbox",
                     "<p>This browser now accepts the sandbox's certificate: the gadget shows the "
                     "pictures of the demo's items from here on. You can close this page.</p>"),
            "text/html; charset=utf-8");
    });

    FServer->Get(R"(/pictures/([a-z]+)/([A-Za-z0-9~]+)\.svg)", [](const httplib::Request& req,
                                                                  httplib::Response& res) {
        const std::optional<std::string> picture = SandboxPicture(req.matches[1].str(), req.matches[2].str());
        if (!picture) {
            res.status = 404;
            res.set_content("no such picture\n", "text/plain");
            return;
        }
        res.set_header("Cache-Control", "max-age=86400");
        res.set_content(*picture, "image/svg+xml");
    });

    FServer->Get("/signin", [](const httplib::Request& req, httplib::Response& res) {
        const std::string sid = SessionParam(req);
        if (Trim(sid).empty()) {
            res.status = 400;
            res.set_content(HtmlPage("Sign in", "<p>The sign-in link lacks its session id.</p>"),
                            "text/html");
            return;
        }
        res.set_content(SignInForm(req.get_param_value("runame"), sid, ""), "text/html; charset=utf-8");
    });

    FServer->Post("/signin", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string runame = req.get_param_value("runame");
        const std::string sid = SessionParam(req);
        const std::string userName = Trim(req.get_param_value("username"));
        if (FService.SignIn(userName, sid)) {
            res.set_content(
                HtmlPage("Thank you", "<p>You have signed in as <b>" + HtmlEscape(userName) +
                                          "</b> and agreed to grant access to <b>" + HtmlEscape(runame) +
                                          "</b>.</p><p>You can now close this window and return to the "
                                          "application.</p>"),
                "text/html; charset=utf-8");
            return;
        }
        res.status = Trim(sid).empty() ? 400 : 403;
        res.set_content(SignInForm(runame, sid,
                                   Trim(sid).empty()
                                       ? "The sign-in link lacks its session id."
                                       : "Your user ID is not known. Please check it and try again."),
                        "text/html; charset=utf-8");
    });

    FServer->Post("/sandbox/signin", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        auto userName = RequireText(*body, "username", res);
        if (!userName) return;
        auto sid = RequireText(*body, "sid", res);
        if (!sid) return;
        if (!FService.SignIn(*userName, *sid))
            return SendJsonError(res, 404, "no account \"" + *userName + "\"");
        SendJson(res, 200, {{"ok", true}});
    });

    FServer->Post("/sandbox/token", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        auto userName = RequireText(*body, "username", res);
        if (!userName) return;
        auto token = FService.IssueToken(*userName);
        if (!token) return SendJsonError(res, 404, "no account \"" + *userName + "\"");
        SendJson(res, 200, {{"token", *token}});
    });

    FServer->Post("/sandbox/expire", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        auto token = RequireText(*body, "token", res);
        if (!token) return;
        if (!FService.ExpireToken(*token)) return SendJsonError(res, 404, "unknown token");
        SendJson(res, 200, {{"ok", true}});
    });

    FServer->Post("/sandbox/fault", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        try {
            FService.AddFault(ParseSandboxFault(*body));
        } catch (const std::invalid_argument& e) {
            return SendJsonError(res, 400, e.what());
        }
        SendJson(res, 200, {{"ok", true}});
    });

    FServer->Post("/sandbox/item", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        try {
            const TSandboxItemChange change = ParseSandboxItemChange(*body);
            if (!FService.ChangeItem(change))
                return SendJsonError(res, 404, "no account \"" + change.UserName + "\"");
        } catch (const std::invalid_argument& e) {
            return SendJsonError(res, 400, e.what());
        }
        SendJson(res, 200, {{"ok", true}});
    });

    FServer->Get("/sandbox/requests", [this](const httplib::Request&, httplib::Response& res) {
        SendJson(res, 200, {{"requests", FService.RequestLog()}});
    });

    RegisterSandboxOAuthRoutes(*FServer, FService.OAuth(), [] { DropCurrentConnection(); });
    RegisterSandboxOutbidRoutes(*FServer, FService);
    RegisterSandboxIdentityRoutes(*FServer, FService);

    FServer->Post("/sandbox/reset", [this](const httplib::Request&, httplib::Response& res) {
        FService.Reset();
        SendJson(res, 200, {{"ok", true}});
    });
}
