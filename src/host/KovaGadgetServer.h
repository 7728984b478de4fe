#pragma once
// The gadget host's server: serves the gadget directory's page on 127.0.0.1, publishes the control to the
// page's script as JSON calls, sends the open forms and other events as Server-Sent Events, and runs every
// call and form action on the main thread. Only its own page gets an answer: a per-run secret, the Host
// and Origin headers and JSON bodies are checked; no CORS header is ever sent. The control lives while the
// host has a page: it ends a grace after the last page's event stream has gone.

#include <memory>
#include <string>

struct TKovaGadgetServerOptions {
    int Port = 0;               // 0: any free port
    std::string GadgetDir;      // the folder the page is served from and the control works in
    bool PageOpensUrls = false; // addresses the control opens go to the page as "openurl" events
    int Threads = 32;           // an open event stream and a call waiting on a dialog hold one each
    int PageGraceMs = 5000;     // without a page this long, the control ends (a reload comes back sooner)
    int HostGraceMs = 0;        // > 0: without a page this long, the host stops as on RequestStop
};

class TKovaGadgetServer {
public:
    // Binds 127.0.0.1 and makes the secret; raises Exception when the port or the folder cannot be used.
    explicit TKovaGadgetServer(const TKovaGadgetServerOptions& options);
    ~TKovaGadgetServer();
    TKovaGadgetServer(const TKovaGadgetServer&) = delete;
    TKovaGadgetServer& operator=(const TKovaGadgetServer&) = delete;

    int Port() const;
    const std::string& Secret() const;
    // "http://127.0.0.1:PORT/#SECRET": the address the page is opened with.
    std::string PageUrl() const;

    // Run on the thread that is to be the main thread: serves until RequestStop, then closes open forms,
    // terminates the control ("watchlist.dat" is saved) and stops serving.
    void Run();
    // Any thread, also before Run.
    void RequestStop();

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};
