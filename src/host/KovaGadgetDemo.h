#pragma once
// The built-in demo (kova-gadget --demo): a private kova-sandbox from beside the executable stands in for
// eBay with the account "demo", a temporary gadget directory points at it with the demo user signed in, and
// the host runs on that directory. Everything the demo made is gone when it returns.

#include "host/KovaGadgetHostOptions.h"

#include <functional>
#include <iosfwd>
#include <string>

// Runs the host on prepared options until it is stopped, returning the exit code.
using TKovaGadgetHostRunner = std::function<int(const TKovaGadgetHostOptions& options)>;

// Runs the demo with the options' --items, --first-run, --port and browser choice; says on report what it
// set up. Returns the host's exit code, or 1 when the demo could not be set up (the reason on report).
int RunKovaGadgetDemo(const TKovaGadgetHostOptions& options, const TKovaGadgetHostRunner& runHost,
                      std::ostream& report);
// The same with kova-gadget's own host (RunKovaGadgetHost) and standard error as the report.
int RunKovaGadgetDemo(const TKovaGadgetHostOptions& options);

// The demo's application data: the shipped "KovaDat.dat" payload with the sandbox's application keys, its
// Trading API and its sign-in page; with oauth also a SIGNIN element for the sandbox's consent page and token
// endpoint under the RuName it accepts. Raises the payload's XML errors as Exception.
std::string KovaDatForSandbox(const std::string& shippedPayload, const std::string& sandboxUrl,
                              bool oauth = false);
