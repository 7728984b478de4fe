#pragma once
// Exact time and time zones.

#include "support/UnitDateTime.h"

// The local time now, as exact as the time module knows it.
TDateTime ExactNow();
