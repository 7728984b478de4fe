#pragma once
// The "eBay application keys" form: asks for the DevID, AppID, CertID, RuName and sign-in kind of the user's
// own application and writes them into the gadget directory's application data file. It first says in plain
// words why keys are needed, links to eBay's developer program and names the demo, which needs none.

#include "dialogs/UnitFormModel.h"

#include <string>

class TfrmKovaApplicationKeys : public TForm {
public:
    // The sign-in kinds in the order of cmbxSignInKind.
    static constexpr int OAuthIndex = 0;
    static constexpr int TokenIndex = 1;

    explicit TfrmKovaApplicationKeys(std::string dataFilePath);

    // Whether the loaded application data lack what a sign-in needs: a DevID, AppID or CertID, or for an
    // OAuth sign-in a RuName (the token flow falls back to the gadget's own).
    static bool KeysMissing();
    // Shows the form for the data file at dataFilePath, filled from the loaded application data; true when
    // the user saved keys, which are then loaded in place of the old application data.
    static bool Execute(const std::string& dataFilePath);

    // Checks the fields, writes them and closes the form with OK; a failure stays in lblError.
    void btnOkClick();

    TComponent& lblAbout;
    TComponent& lblDeveloperLink;
    TComponent& lblDemo;
    TComponent& lblWhere;
    TComponent& lblDevID;
    TComponent& edtDevID;
    TComponent& lblAppID;
    TComponent& edtAppID;
    TComponent& lblCertID;
    TComponent& edtCertID;
    TComponent& lblRuName;
    TComponent& edtRuName;
    TComponent& lblSignInKind;
    TComponent& cmbxSignInKind;
    TComponent& lblError;
    TComponent& btnOk;
    TComponent& btnCancel;

private:
    std::string FDataFilePath;
};

// The notice the page shows when the user cancelled the form: the keys are needed, and where to put them.
extern const char* const ApplicationKeysNeededMessage;
