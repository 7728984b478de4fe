// ctest-labels: threaded
#include "host/UnitWebFormHost.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetHostProcess.h"
#include "support/GadgetTestDirectory.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using json = nlohmann::json;

const json* Component(const json& form, const std::string& name) {
    for (const json& c : form["components"])
        if (c["name"] == name) return &c;
    return nullptr;
}

// A form with a plain edit and a password edit whose handler may rewrite the password.
struct TPasswordForm : TForm {
    TPasswordForm() : TForm("frmTest", "Test", 200, 100) {
        Add(TComponentKind::Edit, "edtName", "", {8, 8, 100, 21});
        TComponent& password = Add(TComponentKind::Edit, "edtPassword", "", {8, 36, 100, 21});
        password.PasswordChar = '*';
        password.OnChange = [&password] {
            if (password.Text == "reset") password.Text = "by-host";
        };
    }
};

TEST(WebFormHostJson, WhatThePageTypesIntoAPasswordIsAcknowledgedButNeverPublished) {
    SetMainThread();
    std::vector<std::string> published;
    TWebFormHost host([&](const json& forms) { published.push_back(forms.dump()); });
    TPasswordForm form;
    const auto last = [&] { return json::parse(published.back())["forms"][0]; };
    MainThreadQueue().Post([&] {
        ASSERT_EQ(host.Apply(1, "text", "edtName", "alice"), true);
        EXPECT_EQ((*Component(last(), "edtName"))["text"], "alice") << "other edits keep their text";
        EXPECT_FALSE(Component(last(), "edtPassword")->contains("text"));
        ASSERT_EQ(host.Apply(1, "text", "edtPassword", "Typed-Pa55word"), true);
        EXPECT_EQ((*Component(last(), "edtPassword"))["textFromPage"], true);
        EXPECT_EQ((*Component(last(), "edtPassword"))["textLength"], 14);
        EXPECT_EQ(form.Component("edtPassword").Text, "Typed-Pa55word") << "the host has what was typed";
        // The same text again still tells the page that its typing arrived.
        const size_t before = published.size();
        ASSERT_EQ(host.Apply(1, "text", "edtPassword", "Typed-Pa55word"), true);
        EXPECT_GT(published.size(), before);
        // A handler that replaces the text makes it the host's own again.
        // The length counts characters, as the page's field does.
        ASSERT_EQ(host.Apply(1, "text", "edtPassword", "P\xC3\xA4ss"), true);
        EXPECT_EQ((*Component(last(), "edtPassword"))["textLength"], 4);
        ASSERT_EQ(host.Apply(1, "text", "edtPassword", "reset"), true);
        EXPECT_EQ((*Component(last(), "edtPassword"))["textFromPage"], false);
        EXPECT_EQ((*Component(last(), "edtPassword"))["textLength"], 7);
        form.ModalResult = mrOk;
    });
    host.ShowModal(form);
    ASSERT_FALSE(published.empty());
    for (const std::string& forms : published) {
        EXPECT_EQ(forms.find("Typed-Pa55word"), std::string::npos) << forms;
        EXPECT_EQ(forms.find("by-host"), std::string::npos) << forms;
    }
}

// Everything the real host's event stream carries, decoded from its chunks, with the forms events parsed.
class TStreamRecorder {
public:
    TStreamRecorder(int port, const std::string& secret) {
        FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request = "GET /api/events?s=" + secret +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
        if (connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            write(FSocket, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            ADD_FAILURE() << "the event stream could not be opened";
        FThread = std::thread([this] { Read(); });
    }
    ~TStreamRecorder() {
        FStopping = true;
        FThread.join();
        close(FSocket);
    }
    // The open forms of the first forms event since the last match that satisfies the test; null on time-out.
    json AwaitForms(const std::function<bool(const json& forms)>& test) {
        std::unique_lock lock(FLock);
        json found;
        FChanged.wait_for(lock, std::chrono::seconds(20), [&] {
            for (; FNext < FForms.size(); ++FNext)
                if (test(FForms[FNext])) {
                    found = FForms[FNext++];
                    return true;
                }
            return false;
        });
        return found;
    }
    std::string Text() {
        std::lock_guard lock(FLock);
        return FText;
    }

private:
    void Read() {
        std::string raw, pending;
        bool headers = true;
        char buffer[4096];
        while (!FStopping) {
            pollfd waiting{FSocket, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0) continue;
            const ssize_t got = read(FSocket, buffer, sizeof buffer);
            if (got <= 0) break;
            raw.append(buffer, static_cast<size_t>(got));
            if (headers) {
                const size_t end = raw.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                raw.erase(0, end + 4);
                headers = false;
            }
            std::lock_guard lock(FLock);
            for (size_t eol; (eol = raw.find("\r\n")) != std::string::npos;) {
                const size_t size = std::stoul(raw.substr(0, eol), nullptr, 16);
                if (raw.size() < eol + 2 + size + 2) break;
                FText += raw.substr(eol + 2, size);
                pending += raw.substr(eol + 2, size);
                raw.erase(0, eol + 2 + size + 2);
            }
            for (size_t end; (end = pending.find("\n\n")) != std::string::npos; pending.erase(0, end + 2)) {
                const std::string block = pending.substr(0, end);
                const size_t data = block.find("\ndata: ");
                if (block.rfind("event: forms\n", 0) == 0 && data != std::string::npos)
                    FForms.push_back(json::parse(block.substr(data + 7), nullptr, false)["forms"]);
            }
            FChanged.notify_all();
        }
    }

    int FSocket = -1;
    std::thread FThread;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::string FText;
    std::vector<json> FForms;
    size_t FNext = 0;
    std::atomic<bool> FStopping{false};
};

TEST(WebFormHostProgram, APasswordTypedIntoTheLoginDataDialogNeverReachesTheEventStream) {
    const std::string password = "Typed-Pa55word";
    TGadgetTestDirectory dir{TGadgetDirectoryOptions{}};
    TGadgetHostProcess host({"--no-browser", "--port", "0", "--gadget-dir", dir.Dir().Path()});
    TStreamRecorder stream(host.Port(), host.Secret());
    httplib::Client client("127.0.0.1", host.Port());
    client.set_read_timeout(60, 0);
    const auto post = [&](const std::string& path, const json& body) {
        auto res =
            client.Post(path.c_str(), {{"X-Kova-Secret", host.Secret()}}, body.dump(), "application/json");
        return res ? json::parse(res->body, nullptr, false) : json();
    };
    ASSERT_TRUE(post("/api/call", {{"member", "Init"}, {"kind", "method"}, {"args", {""}}}).is_object());

    // Without login data the load asks for them: the page types, chooses to save and confirms.
    httplib::Client loader("127.0.0.1", host.Port());
    loader.set_read_timeout(60, 0);
    auto load = std::async(std::launch::async, [&] {
        return loader.Post(
            "/api/call", {{"X-Kova-Secret", host.Secret()}},
            json{{"member", "LoadWatchlist"}, {"kind", "method"}, {"args", json::array()}}.dump(),
            "application/json");
    });
    const json shown = stream.AwaitForms([](const json& forms) { return forms.size() == 1; });
    ASSERT_EQ(shown.size(), 1u);
    const int id = shown[0]["id"];
    const auto act = [&](const std::string& action, const std::string& name, const json& value) {
        return post("/api/form",
                    {{"id", id}, {"action", action}, {"name", name}, {"value", value}})["result"];
    };
    EXPECT_EQ(act("text", "edteBayUsername", "alice"), true);
    for (size_t typed = 1; typed <= password.size(); ++typed)
        EXPECT_EQ(act("text", "edtEbayPassword", password.substr(0, typed)), true);
    const json typed = stream.AwaitForms([&](const json& forms) {
        return forms.size() == 1 &&
               (*Component(forms[0], "edtEbayPassword"))["textLength"] == password.size();
    });
    ASSERT_EQ(typed.size(), 1u);
    EXPECT_EQ((*Component(typed[0], "edtEbayPassword"))["textFromPage"], true);
    EXPECT_EQ((*Component(typed[0], "btnOk"))["enabled"], true) << "OK follows the password the host holds";
    EXPECT_EQ(act("select", "cmbxEbayLoginDataAction", 1), true);
    EXPECT_EQ(act("click", "btnOk", nullptr), true);

    // No token yet: the wizard follows; closing it ends the load.
    const json wizard = stream.AwaitForms(
        [](const json& forms) { return forms.size() == 1 && forms[0]["name"] == "frmKovaGadgetAuthorize"; });
    ASSERT_EQ(wizard.size(), 1u);
    post("/api/form", {{"id", wizard[0]["id"]}, {"action", "close"}, {"name", ""}, {"value", nullptr}});
    ASSERT_TRUE(load.get());
    stream.AwaitForms([](const json& forms) { return forms.empty(); });

    const std::string text = stream.Text();
    EXPECT_NE(text.find("edtEbayPassword"), std::string::npos) << "the stream was read";
    for (size_t length = 6; length <= password.size(); ++length)
        EXPECT_EQ(text.find(password.substr(0, length)), std::string::npos) << text;
    TEbayLoginDataDat saved;
    saved.LoadFromFile(dir.File("ebtmp.dat"));
    EXPECT_EQ(saved.UserName() + "|" + saved.Password(), "alice|" + password);
    EXPECT_EQ(host.Stop(), 0);
}

} // namespace
