#include "host/KovaGadgetServerDoor.h"

#include "base/UnitExceptions.h"
#include "host/KovaGadgetServerCalls.h"
#include "host/KovaGadgetServerPool.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// Set by CloseAfterAnswer; a request is answered on the thread that serves its connection.
thread_local bool GCloseAfterAnswer = false;

const char HeadEnd[] = "\r\n\r\n";

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// Waits until the socket is ready for the events or the time has passed; the events that came.
short WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        pollfd waiting{fd, events, 0};
        const int ready = ::poll(&waiting, 1, MillisecondsUntil(deadline));
        if (ready > 0) return waiting.revents;
        if (ready == 0 || errno != EINTR) return 0;
    }
}

std::chrono::milliseconds Duration(time_t sec, time_t usec) {
    return std::chrono::milliseconds(sec * 1000 + usec / 1000);
}

void AddressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                         : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (got != 0 || address.ss_family != AF_INET) return;
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(in.sin_port);
}

// The value of a header in a request head, lower-cased, without the blanks around it; empty when absent.
std::string HeaderValue(std::string_view head, std::string_view name) {
    for (size_t at = head.find("\r\n"); at != std::string_view::npos;) {
        const size_t start = at + 2;
        const size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos) break;
        const std::string_view line = head.substr(start, end - start);
        at = end;
        if (line.size() <= name.size() || line[name.size()] != ':') continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(line[i])) == name[i];
        if (!same) continue;
        std::string value(line.substr(name.size() + 1));
        const size_t first = value.find_first_not_of(" \t");
        const size_t last = value.find_last_not_of(" \t");
        value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
        for (char& c : value)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return value;
    }
    return "";
}

// How far a chunked body has come: whether its last chunk and trailers are there. Framing that cannot be
// read counts as whole: httplib answers it. The progress lets a body that comes in pieces be read once.
TKovaBodyState ChunkedState(std::string_view body, TKovaChunkProgress& progress) {
    for (;;) {
        const size_t at = progress.At;
        const size_t lineEnd = body.find("\r\n", at);
        if (lineEnd == std::string_view::npos)
            return body.size() - at > 1024 ? TKovaBodyState::Whole : TKovaBodyState::Partial;
        size_t size = 0;
        size_t digits = 0;
        for (size_t i = at; i < lineEnd && std::isxdigit(static_cast<unsigned char>(body[i]));
             ++i, ++digits) {
            const int c = std::tolower(static_cast<unsigned char>(body[i]));
            size = size * 16 + static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        if (digits == 0 || digits > 8) return TKovaBodyState::Whole;
        if (size == 0)
            return body.find("\r\n\r\n", lineEnd) != std::string_view::npos ? TKovaBodyState::Whole
                                                                            : TKovaBodyState::Partial;
        if (progress.Data + size > TKovaHttpServer::MaxBodyBytes) return TKovaBodyState::TooLong;
        if (lineEnd + 2 + size + 2 > body.size()) return TKovaBodyState::Partial;
        progress.Data += size;
        progress.At = lineEnd + 2 + size + 2;
    }
}

} // namespace

TKovaBodyState KovaRequestState(std::string_view buffer, TKovaChunkProgress* progress) {
    const size_t headEnd = buffer.find(HeadEnd);
    if (headEnd == std::string_view::npos) return TKovaBodyState::Partial;
    const std::string_view head = buffer.substr(0, headEnd + 2);
    const std::string_view body = buffer.substr(headEnd + 4);
    // Tiny chunks cost framing: a body that has taken this much without ending is refused all the same.
    if (body.size() > 4 * TKovaHttpServer::MaxBodyBytes) return TKovaBodyState::TooLong;
    if (const std::string coding = HeaderValue(head, "transfer-encoding"); !coding.empty()) {
        TKovaChunkProgress fresh;
        return coding == "chunked" ? ChunkedState(body, progress ? *progress : fresh) : TKovaBodyState::Whole;
    }
    const std::string length = HeaderValue(head, "content-length");
    if (length.empty() || length.size() > 18 || length.find_first_not_of("0123456789") != std::string::npos)
        return TKovaBodyState::Whole; // none, or the handler's to refuse
    const unsigned long long expected = std::stoull(length);
    if (expected > TKovaHttpServer::MaxBodyBytes) return TKovaBodyState::TooLong;
    return body.size() >= expected ? TKovaBodyState::Whole : TKovaBodyState::Partial;
}

// A connection and what has been read from it but not yet parsed.
struct TKovaHttpServer::TConnection {
    int Fd;
    std::string Buffer;
    size_t Offset = 0;
    Clock::time_point Deadline;
    bool Started = false; // the head's time runs: a new connection, or a byte of the next request came
    size_t Served = 0;
    // Answered while its body was left unread: what still comes is read and dropped for a while, since a
    // close with unread data resets the connection, and the client could lose the answer with it.
    bool Lingering = false;
    size_t Dropped = 0;

    explicit TConnection(int fd) : Fd(fd) {}
    ~TConnection() { ::close(Fd); }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    bool HeadComplete() const { return Buffer.find(HeadEnd, Offset) != std::string::npos; }
    // The request's state; a chunked body's progress is kept while it comes, and forgotten with its end.
    TKovaBodyState State() {
        const TKovaBodyState state = KovaRequestState(std::string_view(Buffer).substr(Offset), &Chunks);
        if (state != TKovaBodyState::Partial) Chunks = {};
        return state;
    }
    TKovaChunkProgress Chunks;
    bool RequestComplete() { return State() == TKovaBodyState::Whole; }
    bool Continued = false; // the client was told "100 Continue" for the request being read
    size_t Unparsed() const { return Buffer.size() - Offset; }
    void Compact() {
        Buffer.erase(0, Offset);
        Offset = 0;
    }
};

// httplib's view of a connection: reads start with what the door has read already.
class TKovaHttpServer::TStream : public httplib::Stream {
public:
    TStream(TConnection& connection, std::chrono::milliseconds readTimeout,
            std::chrono::milliseconds writeTimeout)
        : FConnection(connection), FReadTimeout(readTimeout), FWriteTimeout(writeTimeout) {}

    bool is_readable() const override {
        return FConnection.Unparsed() > 0 || (WaitFor(FConnection.Fd, POLLIN, FReadTimeout) & POLLIN);
    }
    // A page that has gone is noticed here, before a write to it fails: its event stream ends at once.
    bool is_writable() const override {
        const short ready = WaitFor(FConnection.Fd, POLLOUT | POLLRDHUP, FWriteTimeout);
        return (ready & POLLOUT) && !(ready & (POLLRDHUP | POLLHUP | POLLERR));
    }
    ssize_t read(char* ptr, size_t size) override {
        if (FConnection.Unparsed() == 0) {
            FConnection.Buffer.clear();
            FConnection.Offset = 0;
            char chunk[16384];
            ssize_t got = -1;
            const Clock::time_point deadline = Clock::now() + FReadTimeout;
            while (got < 0) {
                if (!(WaitFor(FConnection.Fd, POLLIN, FReadTimeout) & (POLLIN | POLLHUP | POLLERR)))
                    return -1;
                got = ::recv(FConnection.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
                if (got < 0 && ((errno != EAGAIN && errno != EINTR) || Clock::now() >= deadline)) return -1;
            }
            if (got == 0) return 0;
            FConnection.Buffer.assign(chunk, static_cast<size_t>(got));
        }
        const size_t taken = std::min(size, FConnection.Unparsed());
        std::memcpy(ptr, FConnection.Buffer.data() + FConnection.Offset, taken);
        FConnection.Offset += taken;
        return static_cast<ssize_t>(taken);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!(WaitFor(FConnection.Fd, POLLOUT, FWriteTimeout) & POLLOUT)) return -1;
        const ssize_t sent = ::send(FConnection.Fd, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        return sent;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(FConnection.Fd, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(FConnection.Fd, false, ip, port);
    }
    socket_t socket() const override { return FConnection.Fd; }

private:
    TConnection& FConnection;
    std::chrono::milliseconds FReadTimeout, FWriteTimeout;
};

// The task queue httplib hands accepted sockets to. It takes them at once on the accepting thread; its own
// thread reads their heads, and a pool serves the requests whose head is whole.
class TKovaHttpServer::TDoor : public httplib::TaskQueue {
public:
    TDoor(TKovaHttpServer& server, const TKovaDoorOptions& options)
        : FServer(server), FOptions(options),
          FPool(TKovaPoolOptions{options.Threads, options.SpareThreads, options.IdleThreadEnd}) {
        if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) FWake[0] = FWake[1] = -1;
        FThread = std::thread([this] { Watch(); });
    }
    ~TDoor() override {
        if (FThread.joinable()) shutdown();
        ::close(FWake[0]);
        ::close(FWake[1]);
    }

    void enqueue(std::function<void()> fn) override { fn(); }

    void shutdown() override {
        {
            std::lock_guard lock(FLock);
            FStopped = true;
        }
        WakeUp();
        FThread.join();
        FPool.Shutdown();
        FServer.FDoor = nullptr;
    }

    // Any thread: a new connection, or one kept alive after its answer.
    void Take(const std::shared_ptr<TConnection>& connection, bool keptAlive) {
        connection->Compact();
        connection->Continued = false;
        connection->Started = !keptAlive || connection->Unparsed() > 0;
        // A kept-alive connection waits as long for its next request as httplib's answers announced.
        const auto idle = std::chrono::seconds(FServer.keep_alive_timeout_sec_);
        connection->Deadline = Clock::now() + (connection->Started ? FOptions.HeadTimeout : idle);
        Arrive(connection);
    }

    // Any thread: a connection answered before its body was read; it ends once the client has its answer.
    void Linger(const std::shared_ptr<TConnection>& connection) { Arrive(StartLingering(connection)); }

private:
    // The door's thread: ends what the connection sends after its answer without a reset that could cost the
    // client the answer; it goes when the client has closed its side, or after a while and a bound.
    static std::shared_ptr<TConnection> StartLingering(const std::shared_ptr<TConnection>& connection) {
        ::shutdown(connection->Fd, SHUT_WR);
        connection->Lingering = true;
        connection->Buffer.clear();
        connection->Offset = 0;
        connection->Deadline = Clock::now() + LingerTime;
        return connection;
    }

    static constexpr auto LingerTime = std::chrono::seconds(2);
    // What loopback's socket buffers hold at most when the client stops at our answer.
    static constexpr size_t LingerBytes = 8 * 1024 * 1024;

    void Arrive(const std::shared_ptr<TConnection>& connection) {
        {
            std::lock_guard lock(FLock);
            if (FStopped) return;
            FArrived.push_back(connection);
        }
        WakeUp();
    }

    void WakeUp() {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(FWake[1], &byte, 1);
    }

    void Dispatch(const std::shared_ptr<TConnection>& connection) {
        FPool.Enqueue([this, connection] { FServer.Serve(*this, connection); });
    }

    // Reads what has come; false when the connection is done with (closed, or refused: a head too long).
    bool ReadHead(TConnection& connection) {
        char chunk[65536];
        const ssize_t got = ::recv(connection.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got < 0) return errno == EAGAIN || errno == EINTR;
        if (got == 0) return false;
        if (!connection.Started) {
            connection.Started = true;
            connection.Deadline = Clock::now() + FOptions.HeadTimeout;
        }
        connection.Buffer.append(chunk, static_cast<size_t>(got));
        if (connection.HeadComplete()) {
            // A client that waits to be asked for its body is asked, once, so that the body can come here.
            if (!connection.Continued &&
                HeaderValue(std::string_view(connection.Buffer).substr(connection.Offset), "expect") ==
                    "100-continue") {
                connection.Continued = true;
                Send(connection, "HTTP/1.1 100 Continue\r\n\r\n");
            }
            return true;
        }
        if (connection.Unparsed() <= MaxHeadBytes) return true;
        Refuse(connection, "431 Request Header Fields Too Large");
        return false;
    }

    static void Send(const TConnection& connection, const std::string& text) {
        [[maybe_unused]] const ssize_t sent =
            ::send(connection.Fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    // A body over the limit is answered here, before any thread reads it; the connection lingers.
    void RefuseTooLong(const std::shared_ptr<TConnection>& connection) const {
        const std::string body = DumpKovaJson({{"error", KovaBodyTooLong}});
        std::string answer =
            "HTTP/1.1 413 Payload Too Large\r\nConnection: close\r\nCache-Control: no-store\r\n"
            "Content-Type: application/json\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n";
        // The headers every answer of the server carries.
        for (const auto& [name, value] : FServer.FDefaultHeaders)
            answer += name + ": " + value + "\r\n";
        Send(*connection, answer + "\r\n" + body);
        StartLingering(connection);
    }

    // Drops what has come; false when the connection is done with.
    static bool Drop(TConnection& connection) {
        char chunk[16384];
        const ssize_t got = ::recv(connection.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got < 0) return errno == EAGAIN || errno == EINTR;
        connection.Dropped += static_cast<size_t>(got);
        return got > 0 && connection.Dropped < LingerBytes;
    }

    static void Refuse(const TConnection& connection, const char* status) {
        Send(connection,
             std::string("HTTP/1.1 ") + status + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    }

    // Where a connection that is not lingering goes next: to the pool with its whole request, to a refusal
    // of its body, or back to waiting (false).
    bool Route(const std::shared_ptr<TConnection>& connection) {
        switch (connection->State()) {
        case TKovaBodyState::Whole:
            Dispatch(connection);
            return true;
        case TKovaBodyState::TooLong:
            RefuseTooLong(connection);
            return false;
        case TKovaBodyState::Partial:
            return false;
        }
        return false;
    }

    void Watch() {
        std::vector<std::shared_ptr<TConnection>> waiting;
        std::vector<pollfd> polled;
        for (;;) {
            {
                std::lock_guard lock(FLock);
                if (FStopped) break;
                for (auto& connection : FArrived)
                    if (connection->Lingering || !Route(connection)) waiting.push_back(std::move(connection));
                FArrived.clear();
            }
            if (waiting.size() > FOptions.MaxWaiting)
                waiting.erase(waiting.begin(), waiting.end() - static_cast<ptrdiff_t>(FOptions.MaxWaiting));
            polled.assign(1, pollfd{FWake[0], POLLIN, 0});
            // Without its wake-up pipe (no descriptor was left) the door looks for arrivals every 50 ms.
            Clock::time_point next = Clock::now() + (FWake[0] < 0 ? std::chrono::milliseconds(50)
                                                                  : std::chrono::milliseconds(60000));
            for (const auto& connection : waiting) {
                polled.push_back(pollfd{connection->Fd, POLLIN, 0});
                next = std::min(next, connection->Deadline);
            }
            if (::poll(polled.data(), polled.size(), MillisecondsUntil(next)) < 0 && errno != EINTR) break;
            if (polled[0].revents & POLLIN) {
                char drained[64];
                while (::read(FWake[0], drained, sizeof drained) > 0) {
                }
            }
            const Clock::time_point now = Clock::now();
            std::vector<std::shared_ptr<TConnection>> still;
            for (size_t i = 0; i < waiting.size(); ++i) {
                TConnection& connection = *waiting[i];
                const bool readable = polled[i + 1].revents != 0;
                if (readable && !(connection.Lingering ? Drop(connection) : ReadHead(connection))) continue;
                if (!connection.Lingering && Route(waiting[i])) continue;
                if (now >= connection.Deadline) {
                    // A connection opened ahead and never used is closed without a word, as browsers expect.
                    if (!connection.Lingering && connection.Unparsed() > 0)
                        Refuse(connection, "408 Request Timeout");
                } else {
                    still.push_back(std::move(waiting[i]));
                }
            }
            waiting.swap(still);
        }
    }

    TKovaHttpServer& FServer;
    TKovaDoorOptions FOptions;
    TKovaThreadPool FPool;
    std::mutex FLock;
    std::vector<std::shared_ptr<TConnection>> FArrived;
    bool FStopped = false;
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

TKovaHttpServer::TKovaHttpServer(const TKovaDoorOptions& options) : FOptions(options) {
    new_task_queue = [this] {
        auto* door = new TDoor(*this, FOptions);
        FDoor = door;
        return door;
    };
}

TKovaHttpServer::~TKovaHttpServer() = default;

TKovaHttpServer& TKovaHttpServer::set_default_headers(httplib::Headers headers) {
    FDefaultHeaders = headers;
    httplib::Server::set_default_headers(std::move(headers));
    return *this;
}

bool TKovaHttpServer::RaiseBacklog() {
    return ::listen(svr_sock_, FOptions.Backlog) == 0;
}

void TKovaHttpServer::CloseAfterAnswer(httplib::Response& res) {
    res.set_header("Connection", "close");
    GCloseAfterAnswer = true;
}

bool TKovaHttpServer::process_and_close_socket(socket_t sock) {
    FDoor->Take(std::make_shared<TConnection>(sock), false);
    return true;
}

void TKovaHttpServer::Serve(TDoor& door, const std::shared_ptr<TConnection>& connection) {
    TStream stream(*connection, Duration(read_timeout_sec_, read_timeout_usec_),
                   Duration(write_timeout_sec_, write_timeout_usec_));
    while (svr_sock_ != INVALID_SOCKET) {
        const bool last = ++connection->Served >= keep_alive_max_count_;
        bool closed = false;
        GCloseAfterAnswer = false;
        const bool answered = process_request(stream, last, closed, nullptr);
        if (GCloseAfterAnswer) return door.Linger(connection);
        if (!answered || closed || last) return;
        if (!connection->RequestComplete() && !AwaitNextHead(*connection)) return door.Take(connection, true);
    }
}

bool TKovaHttpServer::AwaitNextHead(TConnection& connection) const {
    connection.Compact();
    const Clock::time_point deadline = Clock::now() + FOptions.NextHeadWait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !(WaitFor(connection.Fd, POLLIN, left) & POLLIN)) return false;
        char chunk[4096];
        const ssize_t got = ::recv(connection.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got <= 0) return false;
        connection.Buffer.append(chunk, static_cast<size_t>(got));
        if (connection.RequestComplete()) return true;
        if (connection.HeadComplete() || connection.Unparsed() > MaxHeadBytes) return false;
    }
}

int ReadKovaBody(const httplib::ContentReader& reader, std::string& body) {
    bool tooLong = false;
    const bool read = reader([&](const char* data, size_t length) {
        if (body.size() + length > TKovaHttpServer::MaxBodyBytes) {
            tooLong = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    if (tooLong) return 413;
    return read ? 0 : 400;
}

TKovaJsonBody ParseKovaJsonBody(const std::string& text) {
    using json = nlohmann::json;
    struct ETooDeep {};
    try {
        json value = json::parse(
            text,
            [](int depth, json::parse_event_t event, json&) {
                if ((event == json::parse_event_t::object_start ||
                     event == json::parse_event_t::array_start) &&
                    depth >= TKovaJsonBody::MaxJsonDepth)
                    throw ETooDeep{};
                return true;
            },
            false);
        if (value.is_discarded()) return {nullptr, "the body is not JSON"};
        return {std::move(value), ""};
    } catch (const ETooDeep&) {
        return {nullptr, "the body is nested too deeply (more than " +
                             std::to_string(TKovaJsonBody::MaxJsonDepth) + " levels)"};
    }
}

using json = nlohmann::json;

void SendKovaJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(DumpKovaJson(body), "application/json");
}

void SendKovaError(httplib::Response& res, int status, const std::string& message, bool busy) {
    json body = {{"error", message}};
    if (busy) body["busy"] = true;
    SendKovaJson(res, status, body);
}

bool ReadKovaJson(const httplib::ContentReader& reader, httplib::Response& res, json& value) {
    std::string text;
    if (const int status = ReadKovaBody(reader, text)) {
        SendKovaError(res, status, status == 413 ? KovaBodyTooLong : "the body could not be read");
        TKovaHttpServer::CloseAfterAnswer(res);
        return false;
    }
    TKovaJsonBody body = ParseKovaJsonBody(text);
    if (!body.Error.empty()) {
        SendKovaError(res, 400, body.Error);
        return false;
    }
    value = std::move(body.Value);
    return true;
}

bool KovaSecretMatches(const std::string& given, const std::string& secret) {
    return given.size() == secret.size() && CRYPTO_memcmp(given.data(), secret.data(), secret.size()) == 0;
}

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
