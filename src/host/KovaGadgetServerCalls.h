#pragma once
// The page's calls as JSON: a call checked against the control's type library, the values it answers, and
// the type library itself as the host serves it.

#include "host/KovaGadgetMembers.h"
#include "host/KovaGadgetProject.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// One parsed call of the page.
struct TKovaCall {
    const TDispMember* Member = nullptr;
    std::vector<TKovaVariant> Args;
};

// Checks the body against the type library; raises EConvertError with the page's mistake.
TKovaCall ParseKovaCall(const nlohmann::json& body);
// A member's answer: JSON true/false, an integer, a string, or null for none.
nlohmann::json KovaResultJson(const TKovaVariant& value);
// {"library": {...}, "members": [...], "events": [...]}.
nlohmann::json KovaTypeLibraryJson();
// One line of JSON; bytes that are not UTF-8 are replaced.
std::string DumpKovaJson(const nlohmann::json& value);
