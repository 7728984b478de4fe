#pragma once
// The gadget host's door: what a request must keep before it costs the host a thread or memory. A
// connection holds no thread of the pool until its request has arrived whole, head and body, within a few
// seconds; a body over its limit is refused before any thread reads it, and JSON is parsed only to a small
// depth.

#include <chrono>
#include <cstddef>
#include <httplib.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

struct TKovaDoorOptions {
    size_t Threads = 32; // serve whole requests at most; an open event stream holds one
    // Threads are started as requests need them; beyond these, one that has had nothing to do this long ends.
    size_t SpareThreads = 4;
    std::chrono::milliseconds IdleThreadEnd{10000};
    // From a new connection, or from the first byte of a kept-alive one's next request, to the request's end,
    // its body included.
    std::chrono::milliseconds HeadTimeout{5000};
    // How long a pool thread waits for the next request on its connection before handing it to the door: a
    // page that polls does not pay for two hand-overs per call.
    std::chrono::milliseconds NextHeadWait{5};
    int Backlog = 128;
    // Connections whose head is awaited; beyond that the one waiting longest is dropped.
    size_t MaxWaiting = 512;
};

// How much of a request has come: Whole (its head, and its body by Content-Length or chunks; also framing
// that httplib is left to refuse), Partial, or TooLong (a body over MaxBodyBytes, however sent).
enum class TKovaBodyState { Whole, Partial, TooLong };
// Where the reading of a chunked body that has come in part stopped: the next chunk's offset in the body and
// the data bytes before it. Used only while the same request's buffer grows.
struct TKovaChunkProgress {
    size_t At = 0;
    size_t Data = 0;
};
TKovaBodyState KovaRequestState(std::string_view buffer, TKovaChunkProgress* progress = nullptr);

// An httplib server whose connections wait for their requests on one thread of their own, and reach the pool
// only with a whole request; a kept-alive connection goes back to wait for its next request.
class TKovaHttpServer : public httplib::Server {
public:
    static constexpr size_t MaxBodyBytes = 1024 * 1024;
    static constexpr size_t MaxHeadBytes = 64 * 1024;

    explicit TKovaHttpServer(const TKovaDoorOptions& options = {});
    ~TKovaHttpServer() override;

    // httplib's, with a copy for the answers the door gives itself.
    TKovaHttpServer& set_default_headers(httplib::Headers headers);
    // After bind_to_port or bind_to_any_port, which listen with a backlog of 5.
    bool RaiseBacklog();
    // The connection ends after this answer: for answers given while the request's body is left unread.
    static void CloseAfterAnswer(httplib::Response& res);

private:
    class TDoor;
    class TStream;
    struct TConnection;
    bool process_and_close_socket(socket_t sock) override;
    // A pool thread: answers the connection's requests while their heads are there, then hands it back.
    void Serve(TDoor& door, const std::shared_ptr<TConnection>& connection);
    // Reads the connection's next head if it comes within NextHeadWait; false when it did not.
    bool AwaitNextHead(TConnection& connection) const;

    TKovaDoorOptions FOptions;
    httplib::Headers FDefaultHeaders;
    TDoor* FDoor = nullptr; // while listening; only the accepting thread uses it
};

// Reads a body through httplib's reader up to MaxBodyBytes. 0 when it was read whole, else the status to
// answer: 413 when it is longer, 400 when it could not be read.
int ReadKovaBody(const httplib::ContentReader& reader, std::string& body);

// A request body parsed as JSON, with nesting refused beyond MaxJsonDepth while it is parsed: a deeper
// value is never built, so nothing copies or frees one recursively. Error is the page's mistake, if any.
struct TKovaJsonBody {
    static constexpr int MaxJsonDepth = 64;
    nlohmann::json Value;
    std::string Error;
};
TKovaJsonBody ParseKovaJsonBody(const std::string& text);

// What a page is told of a body over the limit.
constexpr const char* KovaBodyTooLong = "the body is longer than 1 MB";

// An answer of JSON, never cached; an error answer {"error": message} (with "busy": true when told).
void SendKovaJson(httplib::Response& res, int status, const nlohmann::json& body);
void SendKovaError(httplib::Response& res, int status, const std::string& message, bool busy = false);
// Reads and parses a call's body; false when it has answered the page's mistake (and closes the
// connection after a body it could not read).
bool ReadKovaJson(const httplib::ContentReader& reader, httplib::Response& res, nlohmann::json& value);

// 32 random bytes as unpadded base64url: 43 URL-safe characters. Raises when the system has no randomness.
std::string MakeKovaSecret();
// The page's secret compared in constant time.
bool KovaSecretMatches(const std::string& given, const std::string& secret);
