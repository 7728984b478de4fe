#pragma once
// kova-gadget as a desktop program: one host per gadget directory, its page shown by the browser choice,
// and, for an app window, a life that ends with the window's.

#include "host/KovaGadgetHostOptions.h"

#include <iosfwd>

// Names the environment value that shortens an app-window host's life after its last page (milliseconds).
constexpr const char* KovaWindowGraceVariable = "KOVA_GADGET_WINDOW_GRACE_MS";
constexpr int KovaWindowGraceMs = 30000;
// Names the environment value that, for tests, says how far (milliseconds) the computer's clock is ahead
// of the exact time; the host's exact time then runs that much behind it.
constexpr const char* KovaClockErrorVariable = "KOVA_GADGET_CLOCK_ERROR_MS";

// Runs the host on the options' folder until SIGINT or SIGTERM, or, when it opened an app window, until its
// last page has been gone for the grace; the list is saved either way. When a host runs on the folder
// already, asks it to open its page and returns. Returns the exit status: 0, or 1 with the reason on
// standard error.
int RunKovaGadgetHost(TKovaGadgetHostOptions options);

// --autostart on|off|show for the options' folder and browser choice; returns the exit status.
int RunKovaGadgetAutostart(const TKovaGadgetHostOptions& options, std::ostream& out);
