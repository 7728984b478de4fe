// ctest-labels: threaded
#include "host/UnitWebFormHost.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/EventStreamClient.h"
#include "support/GadgetHostProcess.h"
#include "support/GadgetTestDirectory.h"

#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

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

TEST(WebFormHostJson, EnterPressesTheDefaultButtonTheUserSeesAndEscapeTheCancelButton) {
    SetMainThread();
    TWebFormHost host([](const json&) {});
    // The steps of a wizard: one default button shows at a time, the first one made is hidden.
    TForm form("frmSteps", "Steps", 200, 100);
    std::vector<std::string> pressed;
    for (const char* name : {"btnFirst", "btnSecond", "btnThird"}) {
        TComponent& button = form.Add(TComponentKind::Button, name, "", {8, 8, 75, 25});
        button.Default = true;
        button.OnClick = [&pressed, name] { pressed.push_back(name); };
    }
    form.Component("btnFirst").Visible = false;
    form.Component("btnSecond").Enabled = false;
    TComponent& cancel = form.Add(TComponentKind::Button, "btnCancel", "", {100, 8, 75, 25});
    cancel.Cancel = true;
    cancel.ModalResult = mrCancel;
    MainThreadQueue().Post([&] {
        EXPECT_EQ(host.Apply(1, "key", "", "Enter"), true);
        EXPECT_EQ(pressed, std::vector<std::string>{"btnThird"});
        form.Component("btnThird").Visible = false;
        EXPECT_EQ(host.Apply(1, "key", "", "Enter"), false) << "no default button in sight";
        EXPECT_EQ(host.Apply(1, "key", "", "Escape"), true);
    });
    host.ShowModal(form);
    EXPECT_EQ(form.ModalResult, mrCancel);
}

TEST(WebFormHostJson, WhatThePageTypesIntoAPasswordIsAcknowledgedButNeverPublished) {
    SetMainThread();
    std::vector<std::string> published;
    TWebFormHost host([&](const json& forms) { published.push_back(forms.dump()); });
    TPasswordForm form;
    const auto last = [&] { return json::parse(published.back())["forms"][0]; };
    MainThreadQueue().Post([&] {
        // A text longer than a field takes (a pasted 900 kB address) is refused before anything echoes it;
        // the limit counts characters, as the page's field does.
        const std::string wide = "\xC3\xA4";
        std::string longest;
        for (size_t i = 0; i < TWebFormHost::MaxTextChars; ++i)
            longest += wide;
        EXPECT_THROW(host.Apply(1, "text", "edtName", std::string(900000, 'a')), EFormActionError);
        EXPECT_THROW(host.Apply(1, "text", "edtName", longest + "a"), EFormActionError);
        for (const std::string& forms : published)
            EXPECT_EQ(forms.find("aaaa"), std::string::npos);
        ASSERT_EQ(host.Apply(1, "text", "edtName", longest), true);
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

TEST(WebFormHostProgram, APasswordTypedIntoTheLoginDataDialogNeverReachesTheEventStream) {
    const std::string password = "Typed-Pa55word";
    TGadgetTestDirectory dir{TGadgetDirectoryOptions{}};
    TGadgetHostProcess host({"--no-browser", "--port", "0", "--gadget-dir", dir.Dir().Path()});
    TEventStreamClient stream(host.Port(), host.Secret());
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
