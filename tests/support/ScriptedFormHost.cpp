#include "ScriptedFormHost.h"

#include <gtest/gtest.h>

TScriptedFormHost::TScriptedFormHost() {
    FPrevious = SetFormHost(this);
}

TScriptedFormHost::~TScriptedFormHost() {
    SetFormHost(FPrevious);
    EXPECT_TRUE(FScripts.empty()) << FScripts.size() << " scripted form(s) were never shown";
}

void TScriptedFormHost::ShowModal(TForm& form) {
    Shown.push_back(form.Caption);
    if (FScripts.empty()) {
        ADD_FAILURE() << "unexpected form shown: " << form.Caption;
    } else {
        TScript script = std::move(FScripts.front());
        FScripts.pop_front();
        script(form);
    }
    if (form.ModalResult == mrNone) form.Close();
}
