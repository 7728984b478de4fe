#include "ebayapi/UnitCurlSession.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMonotonic.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <curl/curl.h>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

const char* const ConnectionLostMessage =
    "Internet error! Message: \"The connection to the server was lost\".";
const char* const CertificateFailureMessage =
    "Internet error! Message: \"The server's certificate could not be verified\".";
const char* const SecureConnectionFailureMessage =
    "Internet error! Message: \"A secure connection could not be made\".";

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

CURL* Easy(void* handle) {
    return static_cast<CURL*>(handle);
}
CURLM* Multi(void* handle) {
    return static_cast<CURLM*>(handle);
}

// A cancel flag is looked at this often while a transfer waits for the network.
constexpr int CancelPollMs = 50;

bool HasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

// libcurl drops a "Name:" line with nothing after the colon instead of sending it; "Name;" is how it is told
// to send the header with an empty value.
std::string EmptyValueAsSemicolonForm(const std::string& line) {
    auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return line;
    if (!Trim(std::string_view(line).substr(colon + 1)).empty()) return line;
    return line.substr(0, colon) + ";";
}

// The connection was made and broke off afterwards, as opposed to never being made at all.
bool IsConnectionLost(int curlCode) {
    switch (curlCode) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return true;
    default:
        return false;
    }
}

bool IsCertificateFailure(int curlCode) {
    switch (curlCode) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ISSUER_ERROR:
        return true;
    default:
        return false;
    }
}

THTTPFailureKind ClassifyCurlCode(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return THTTPFailureKind::Timeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_INTERFACE_FAILED:
        return THTTPFailureKind::Socket;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
        return THTTPFailureKind::Proxy;
    case CURLE_TOO_MANY_REDIRECTS:
        return THTTPFailureKind::HTTPError;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_USE_SSL_FAILED:
        return THTTPFailureKind::TLS;
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_NOT_BUILT_IN:
        return THTTPFailureKind::TLSSetup;
    default:
        return THTTPFailureKind::Other;
    }
}

[[noreturn]] void Raise(THTTPFailureKind kind, const std::string& message, int curlCode, long responseCode) {
    switch (kind) {
    case THTTPFailureKind::HTTPError:
        throw EHTTPProtocolError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::Timeout:
        throw EHTTPTimeoutError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::Socket:
        throw EHTTPSocketError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::Proxy:
        throw EHTTPProxyError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::ProxyAuthentication:
        throw EHTTPProxyAuthenticationError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::TLSSetup:
        throw ETLSSetupError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::TLS:
        throw ETLSError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::Canceled:
        throw EHTTPCanceledError(message, kind, curlCode, responseCode);
    case THTTPFailureKind::Other:
        break;
    }
    throw EHTTPClientError(message, kind, curlCode, responseCode);
}

// Adds every certificate of a PEM text to the store; false when there is none or one is damaged.
bool AddPemCertificates(X509_STORE* store, const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio) return false;
    ERR_clear_error();
    int added = 0;
    bool damaged = false;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        if (X509_STORE_add_cert(store, cert) == 1)
            ++added;
        else
            damaged = true;
        X509_free(cert);
    }
    // The loop ends with "no start line" after the last certificate; anything else is a broken file.
    unsigned long error = ERR_peek_last_error();
    if (error != 0 && ERR_GET_REASON(error) != PEM_R_NO_START_LINE) damaged = true;
    ERR_clear_error();
    BIO_free(bio);
    return added > 0 && !damaged;
}

// The trust store of every TLS connection: the system's CAs plus the extra CA file's. Parsing the system's
// bundle costs about 20 ms of CPU, so one store is built per extra CA text and shared (OpenSSL stores are
// reference counted and safe to share for verification).
X509_STORE* SharedTrustStore(const std::string& extraPem, std::string& error) {
    using TStore = std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)>;
    static std::mutex lock;
    // Built after OpenSSL's own start-up, so freed at exit before OpenSSL cleans up.
    static std::map<std::string, TStore> stores;
    std::lock_guard guard(lock);
    if (auto it = stores.find(extraPem); it != stores.end()) return it->second.get();
    TStore store(X509_STORE_new(), &X509_STORE_free);
    if (!store || X509_STORE_set_default_paths(store.get()) != 1) {
        error = "The system's CA certificates cannot be loaded";
        return nullptr;
    }
    if (!extraPem.empty() && !AddPemCertificates(store.get(), extraPem)) {
        error = "No usable certificate in the CA file";
        return nullptr;
    }
    return stores.emplace(extraPem, std::move(store)).first->second.get();
}

} // namespace

struct TCurlClient::TTransfer {
    TCurlClient* Owner = nullptr;
    // The client's receive buffer: it keeps its capacity from one exchange to the next.
    std::string* Buffer = nullptr;
    std::string StatusLine;
    uint64_t LastActivity = 0;
    curl_off_t LastDown = 0, LastUp = 0;
    bool WorkBegun = false;
    std::exception_ptr CallbackError;
    std::string ExtraCAFile;
    std::string SetupError;
    curl_slist* Headers = nullptr;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};

    ~TTransfer() { curl_slist_free_all(Headers); }

    void Touch() { LastActivity = MonotonicMs(); }

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<TTransfer*>(user);
        t->Touch();
        t->Buffer->append(data, size * count);
        return size * count;
    }

    static size_t Header(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<TTransfer*>(user);
        t->Touch();
        std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) t->StatusLine = Trim(line);
        // An announced body goes into one allocation instead of a text that doubles as it grows; a claim
        // beyond any answer of the API is not believed.
        constexpr std::string_view LengthHeader = "Content-Length:";
        constexpr size_t MostReserved = 16 * 1024 * 1024;
        if (line.size() > LengthHeader.size() && SameText(line.substr(0, LengthHeader.size()), LengthHeader)) {
            long long length = 0;
            if (TryStrToInt64(Trim(line.substr(LengthHeader.size())), length) && length > 0 &&
                static_cast<unsigned long long>(length) <= MostReserved)
                t->Buffer->reserve(t->Buffer->size() + static_cast<size_t>(length));
        }
        return size * count;
    }

    static int Progress(void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
        auto* t = static_cast<TTransfer*>(user);
        if (downNow == t->LastDown && upNow == t->LastUp) return 0;
        t->Touch();
        bool received = downNow != t->LastDown;
        t->LastDown = downNow;
        t->LastUp = upNow;
        if (!received) return 0;
        try {
            if (!t->WorkBegun) {
                t->WorkBegun = true;
                if (t->Owner->OnWorkBegin) t->Owner->OnWorkBegin(downTotal);
            }
            if (t->Owner->OnWork) t->Owner->OnWork(downNow);
        } catch (...) {
            // C code cannot carry an exception: stop the transfer and raise it once curl has returned.
            t->CallbackError = std::current_exception();
            return 1;
        }
        return 0;
    }

    static CURLcode SslContext(CURL*, void* sslContext, void* user) {
        auto* t = static_cast<TTransfer*>(user);
        std::string pem;
        if (!t->ExtraCAFile.empty() && !TryReadFileBytes(t->ExtraCAFile, pem)) {
            t->SetupError = "Cannot read the CA file " + t->ExtraCAFile;
            return CURLE_SSL_CACERT_BADFILE;
        }
        std::string error;
        X509_STORE* store = SharedTrustStore(pem, error);
        if (!store) {
            t->SetupError = error + (t->ExtraCAFile.empty() ? "" : " " + t->ExtraCAFile);
            return CURLE_SSL_CACERT_BADFILE;
        }
        SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store);
        return CURLE_OK;
    }
};

TCurlClient::TCurlClient() {
    CurlGlobalInit();
    FEasy = curl_easy_init();
    FMulti = curl_multi_init();
    if (!FEasy || !FMulti) {
        if (FEasy) curl_easy_cleanup(Easy(FEasy));
        if (FMulti) curl_multi_cleanup(Multi(FMulti));
        throw ETLSSetupError("TCurlClient.Create: the HTTP client could not be created",
                             THTTPFailureKind::TLSSetup, CURLE_FAILED_INIT, -1);
    }
}

TCurlClient::~TCurlClient() {
    curl_multi_cleanup(Multi(FMulti));
    curl_easy_cleanup(Easy(FEasy));
}

void TCurlClient::SetProxy(const TProxySettings* proxySettings) {
    FUsesProxy = proxySettings && proxySettings->UsesProxy;
    FProxy.Assign(proxySettings);
}

void TCurlClient::Get(const std::string& url, std::string& response) {
    Perform(url, nullptr, response);
}

void TCurlClient::Post(const std::string& url, const std::string& body, std::string& response) {
    Perform(url, &body, response);
}

void TCurlClient::ApplyOptions(TTransfer& t, const std::string& url, const std::string* body) {
    CURL* h = Easy(FEasy);
    std::vector<std::string> headers;
    if (!ContentType.empty()) headers.push_back("Content-Type: " + ContentType);
    std::string encoding = Trim(AcceptEncoding);
    if (!encoding.empty() && !AcceptCompressed) headers.push_back("Accept-Encoding: " + encoding);
    for (const auto& line : HeaderLines)
        headers.push_back(EmptyValueAsSemicolonForm(line));
    // A body of any size goes out at once instead of waiting for a "100 Continue".
    if (body) headers.push_back("Expect:");
    for (const auto& line : headers) {
        // A line break would let a value smuggle header lines or a second request into the exchange.
        if (HasLineBreak(line))
            Raise(THTTPFailureKind::Other, "TCurlClient.Perform: header line with a line break refused",
                  CURLE_BAD_FUNCTION_ARGUMENT, -1);
        curl_slist* next = curl_slist_append(t.Headers, line.c_str());
        if (!next)
            Raise(THTTPFailureKind::TLSSetup, "TCurlClient.Perform: out of memory", CURLE_OUT_OF_MEMORY, -1);
        t.Headers = next;
    }

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    // Only gzip: libcurl would offer brotli as well, which costs a server far more time than it saves here.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, AcceptCompressed ? "gzip" : nullptr);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, t.ErrorBuffer);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, t.Headers);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, MaxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(std::max(MaxRedirects, 0)));
    if (AllowCookies) curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, ReadTimeout > 0 ? static_cast<long>(ReadTimeout) : 0L);

    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TTransfer::Write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TTransfer::Header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TTransfer::Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);

    curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // The trust store comes from SslContext, shared between connections; curl loads no bundle of its own.
    t.ExtraCAFile = GetEnvironmentVariable(KovaExtraCAFileVariable).value_or("");
    if (curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &TTransfer::SslContext) != CURLE_OK)
        Raise(THTTPFailureKind::TLSSetup, "TCurlClient.Perform: the TLS library cannot take a trust store",
              CURLE_NOT_BUILT_IN, -1);
    curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &t);

    // An empty proxy and no-proxy list keep curl from taking a proxy out of the environment: the settings
    // alone decide.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    if (FUsesProxy) {
        curl_easy_setopt(h, CURLOPT_PROXY, FProxy.Server.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPORT, static_cast<long>(FProxy.Port));
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    } else {
        curl_easy_setopt(h, CURLOPT_PROXY, "");
    }
    if (FUsesProxy && FProxy.NeedsAuthentication) {
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, FProxy.UserName.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, FProxy.Password.c_str());
    } else {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, nullptr);
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, nullptr);
    }

    if (body) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
}

void TCurlClient::Perform(const std::string& url, const std::string* body, std::string& response) {
    FResponseCode = -1;
    FStatusLine.clear();
    TTransfer t;
    t.Owner = this;
    FBuffer.clear();
    t.Buffer = &FBuffer;
    CURL* h = Easy(FEasy);
    // The handle outlives this exchange: it must not keep pointers into it (closing a connection later may
    // still write an error text).
    struct TDetach {
        CURL* Handle;
        ~TDetach() {
            curl_easy_setopt(Handle, CURLOPT_ERRORBUFFER, nullptr);
            curl_easy_setopt(Handle, CURLOPT_HTTPHEADER, nullptr);
            curl_easy_setopt(Handle, CURLOPT_WRITEDATA, nullptr);
            curl_easy_setopt(Handle, CURLOPT_HEADERDATA, nullptr);
            curl_easy_setopt(Handle, CURLOPT_XFERINFODATA, nullptr);
            curl_easy_setopt(Handle, CURLOPT_SSL_CTX_DATA, nullptr);
        }
    } detach{h};
    ApplyOptions(t, url, body);

    auto canceled = [this] { return Cancel && Cancel->load(); };
    if (canceled()) Raise(THTTPFailureKind::Canceled, "Request canceled", CURLE_ABORTED_BY_CALLBACK, -1);

    CURLM* m = Multi(FMulti);
    t.Touch();
    const uint64_t started = MonotonicMs();
    if (curl_multi_add_handle(m, h) != CURLM_OK)
        Raise(THTTPFailureKind::TLSSetup, "TCurlClient.Perform: the transfer could not be started",
              CURLE_FAILED_INIT, -1);
    // Driving the transfer ourselves gives a true read time-out (the longest silence), an overall deadline
    // and a cancel that is seen within one short poll slice.
    enum class TStop { None, Idle, Overall, Canceled } stop = TStop::None;
    CURLcode result = CURLE_OK;
    for (;;) {
        if (canceled()) {
            stop = TStop::Canceled;
            break;
        }
        int running = 0;
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (!running) break;
        const uint64_t now = MonotonicMs();
        uint64_t wait = Cancel ? CancelPollMs : 1000;
        if (ReadTimeout > 0) {
            const uint64_t idle = now - t.LastActivity;
            if (idle >= static_cast<uint64_t>(ReadTimeout)) {
                stop = TStop::Idle;
                break;
            }
            wait = std::min<uint64_t>(wait, ReadTimeout - idle);
        }
        if (OverallTimeout > 0) {
            const uint64_t elapsed = now - started;
            if (elapsed >= static_cast<uint64_t>(OverallTimeout)) {
                stop = TStop::Overall;
                break;
            }
            wait = std::min<uint64_t>(wait, OverallTimeout - elapsed);
        }
        curl_multi_poll(m, nullptr, 0, static_cast<int>(wait), nullptr);
    }
    if (stop == TStop::None) {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(m, &left))
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) result = msg->data.result;
    }
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    long connectCode = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    curl_multi_remove_handle(m, h);
    FResponseCode = code > 0 ? code : -1;
    FStatusLine = t.StatusLine;
    if (OnWorkEnd && !t.CallbackError) OnWorkEnd();

    if (t.CallbackError) std::rethrow_exception(t.CallbackError);
    switch (stop) {
    case TStop::Canceled:
        Raise(THTTPFailureKind::Canceled, "Request canceled", CURLE_ABORTED_BY_CALLBACK, FResponseCode);
    case TStop::Idle:
        Raise(THTTPFailureKind::Timeout, Format("Read timed out after %d ms", {ReadTimeout}),
              CURLE_OPERATION_TIMEDOUT, FResponseCode);
    case TStop::Overall:
        Raise(THTTPFailureKind::Timeout, Format("Request not completed within %d ms", {OverallTimeout}),
              CURLE_OPERATION_TIMEDOUT, FResponseCode);
    case TStop::None:
        break;
    }
    if (result != CURLE_OK) RaiseFailure(result, !t.SetupError.empty() ? t.SetupError : t.ErrorBuffer);
    // A refused tunnel can end without a curl error when the proxy closes politely.
    if (connectCode >= 300 && FResponseCode < 0) RaiseFailure(CURLE_PROXY, "");
    if (FResponseCode >= 400)
        Raise(THTTPFailureKind::HTTPError,
              FStatusLine.empty() ? Format("HTTP error %d", {FResponseCode}) : FStatusLine, CURLE_OK,
              FResponseCode);
    // The caller's string becomes the next exchange's buffer, so neither is allocated again.
    response.swap(FBuffer);
}

void TCurlClient::RaiseFailure(int curlCode, const std::string& detail) {
    auto code = static_cast<CURLcode>(curlCode);
    std::string message = Trim(detail);
    if (message.empty()) message = curl_easy_strerror(code);
    THTTPFailureKind kind = ClassifyCurlCode(code);
    long connectCode = 0;
    curl_easy_getinfo(Easy(FEasy), CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (connectCode == 407)
        kind = THTTPFailureKind::ProxyAuthentication;
    else if (connectCode >= 300)
        kind = THTTPFailureKind::Proxy;
    Raise(kind, message, curlCode, FResponseCode);
}

TCurlPostResult CurlExecutePost(const TCurlPostRequest& request, std::string& response,
                                TCurlClient* sharedClient) {
    TCurlPostResult result;
    response.clear();
    std::unique_ptr<TCurlClient> ownClient;
    if (!sharedClient) ownClient = std::make_unique<TCurlClient>();
    TCurlClient& client = sharedClient ? *sharedClient : *ownClient;
    client.ReadTimeout = request.ReadTimeout;
    client.OverallTimeout = request.OverallTimeout;
    client.Cancel = request.Cancel;
    client.MaxRedirects = 0;
    client.SetProxy(request.ProxySettings);
    client.OnWorkBegin = request.OnWorkBegin;
    client.OnWork = request.OnWork;
    client.ContentType = request.ContentType;
    client.AcceptCompressed = request.AcceptCompressed;
    client.HeaderLines.clear();
    for (const auto& line : request.HeaderLines) {
        auto eq = line.find('=');
        client.HeaderLines.push_back(
            eq == std::string::npos ? line : line.substr(0, eq) + ": " + line.substr(eq + 1));
    }

    const int maxAttempts = std::max(request.RetryCount, 1);
    bool succeeded = false;
    try {
        for (int attempt = 0; attempt < maxAttempts; ++attempt) {
            ++result.Attempts;
            try {
                client.Post(request.URL, request.Body, response);
                succeeded = true;
                break;
            } catch (const EHTTPClientError& e) {
                if (e.Kind != THTTPFailureKind::TLSSetup) throw;
                if (!result.PostErrorLog.empty()) result.PostErrorLog += " | ";
                result.PostErrorLog += Format("%s.Post (%d/%d): %s", {request.CallerClassName, attempt,
                                                                      maxAttempts, Trim(e.Message())});
            } catch (const std::exception& e) {
                if (!result.PostErrorLog.empty()) result.PostErrorLog += " | ";
                result.PostErrorLog += Format(
                    "%s.Post (%d/%d): %s", {request.CallerClassName, attempt, maxAttempts, Trim(e.what())});
            }
        }
    } catch (const EHTTPClientError& e) {
        const bool usesProxy = request.ProxySettings && request.ProxySettings->UsesProxy;
        switch (e.Kind) {
        case THTTPFailureKind::Timeout:
            result.Status = iyRequestTimeout;
            break;
        case THTTPFailureKind::ProxyAuthentication:
            result.Status = iyProxyAuthenticationRequired;
            break;
        case THTTPFailureKind::Proxy:
            result.Status = iyProxy;
            break;
        case THTTPFailureKind::Socket:
            // Without a proxy the proxy settings cannot be the cause, so the proxy's message would mislead.
            if (usesProxy) {
                result.Status = iyProxy;
            } else {
                result.Status = iyUnknown;
                if (IsConnectionLost(e.CurlCode)) result.FailureMessage = ConnectionLostMessage;
            }
            break;
        case THTTPFailureKind::TLS:
            result.Status = iyUnknown;
            result.FailureMessage =
                IsCertificateFailure(e.CurlCode) ? CertificateFailureMessage : SecureConnectionFailureMessage;
            break;
        default:
            throw;
        }
        // The user's message names the cause; the log keeps the exact reason.
        LogFmt("%s.Post: %s", {request.CallerClassName, Trim(e.Message())}, lmkError);
        return result;
    }
    result.Result = succeeded && !response.empty();
    result.Status = ResponseCodeToStatus(static_cast<int>(client.ResponseCode()));
    // An exchange that broke off after a good status line is no usable answer.
    if (!succeeded && InternetStatusSucceeded(result.Status)) result.Status = iyUnknown;
    return result;
}
