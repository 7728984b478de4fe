#pragma once
// A form host for tests: each ShowModal runs the next script against the form, as a user would act on it;
// a form still open when its script ends is closed with the window's close box (Cancel).

#include "dialogs/UnitFormModel.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class TScriptedFormHost : public TFormHost {
public:
    using TScript = std::function<void(TForm&)>;
    TScriptedFormHost();
    ~TScriptedFormHost() override;

    // Queues the script for the next form shown.
    void Then(TScript script) { FScripts.push_back(std::move(script)); }
    void ShowModal(TForm& form) override;

    // Captions of the forms shown so far, in order.
    std::vector<std::string> Shown;
    size_t PendingScripts() const { return FScripts.size(); }

private:
    std::deque<TScript> FScripts;
    TFormHost* FPrevious;
};
