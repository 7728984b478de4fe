#pragma once
// The login data dialog: asks for the eBay user name, password and whether to save them encrypted.

#include "dialogs/UnitFormModel.h"

#include <string>

class TfrmEbayLogInData : public TForm {
public:
    TfrmEbayLogInData();

    // Shows the dialog; on OK returns true with the typed user name and password (untrimmed) and the chosen
    // item (0 discard, 1 save encrypted). Otherwise returns false and leaves the arguments alone.
    static bool Execute(std::string& userName, std::string& password, int& saveChoice);

    // Enables OK exactly when both edits hold more than blanks and a saving choice is selected.
    void FieldChange();

    TComponent& grpbxEbayLogin;
    TComponent& lblFarrowbyDotNetUsername;
    TComponent& lblFarrowbyDotNetPassword;
    TComponent& Label4;
    TComponent& edteBayUsername;
    TComponent& edtEbayPassword;
    TComponent& cmbxEbayLoginDataAction;
    TComponent& btnOk;
    TComponent& btnCancel;
};

// Makes the login data check of the login data store ask through this dialog; called at start-up.
void InstallLogInDataPrompt();
