#pragma once
// The gadget host's form host: a form shown modally goes on a stack that the page draws from the forms
// events, the main thread's queue keeps running while it is open, and the page's actions are played back to
// the form model on the main thread. Message boxes are shown the same way, as forms named "MessageBox".

#include "base/UnitExceptions.h"
#include "dialogs/UnitFormModel.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

KOVA_DECLARE_EXCEPTION(EFormActionError, Exception);

// The texts the page typed into a form's password edits, by component name.
using TPageTexts = std::map<std::string, std::string>;

class TWebFormHost : public TFormHost {
public:
    // Receives the state of the open forms ({"forms": [...]}) whenever it changed.
    using TPublisher = std::function<void(const nlohmann::json& forms)>;
    static constexpr int TimerSliceMs = 20;
    // The longest text a field takes from the page (the page's fields stop there too).
    static constexpr size_t MaxTextChars = 8192;

    explicit TWebFormHost(TPublisher publish);
    ~TWebFormHost() override;
    TWebFormHost(const TWebFormHost&) = delete;
    TWebFormHost& operator=(const TWebFormHost&) = delete;

    // Main thread: runs the queue and the form's timers until the form has a modal result or the host stops.
    void ShowModal(TForm& form) override;

    // The rest is for the main thread too.
    size_t OpenCount() const { return FStack.size(); }
    nlohmann::json FormsJson() const;
    // Plays the page's action on the open form with that id: its result (false when the control ignored
    // it, or when the form is not the top-most one), or nullopt when no open form has the id. Raises
    // EFormActionError for an action or value the protocol does not know.
    std::optional<bool> Apply(int id, const std::string& action, const std::string& name,
                              const nlohmann::json& value);
    // The version of the open form with that id (nullopt when none is open), as its forms events carry it:
    // an event of this version or later shows what every action played before now did to the form.
    std::optional<uint64_t> Version(int id) const;
    // Closes every open form with Cancel; forms shown afterwards close at once.
    void Stop();
    bool Stopping() const { return FStopping; }
    // The message-box handler: a modal "MessageBox" form; returns the answer's ID (IDOK, IDYES, ...).
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags);

private:
    struct TOpenForm {
        int Id;
        TForm* Form;
        uint64_t PublishedVersion;
        TPageTexts PageTexts;
    };
    // Runs work on the main thread and waits for it; false when the host stopped before the main thread
    // came to it (work then never runs).
    bool OnMainThread(const std::function<void()>& work);
    bool ChangedSincePublished() const;
    void Publish();
    void RunTimers();

    TPublisher FPublish;
    std::vector<TOpenForm> FStack;
    int FNextId = 1;
    std::atomic<bool> FStopping{false}; // read by workers waiting for a message box
};

// A form as the page draws it: its frame and its components without timers. A password edit carries its
// text's length instead of the text, and whether the text is still what the page typed (pageTexts).
nlohmann::json FormToJson(const TForm& form, int id, const TPageTexts& pageTexts = {});
// "#rrggbb", or null for the kind's default colour.
nlohmann::json ColorToJson(TColor color);
