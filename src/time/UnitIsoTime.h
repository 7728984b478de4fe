#pragma once
// Reading the ISO 8601 times of eBay's answers.

#include "base/UnitDateTime.h"

#include <string_view>

// Reads "yyyy-mm-ddThh:mm:ss", optionally followed by a fraction of a second (a point or comma and one or
// more digits), then "Z" or a numeric offset ("+hh:mm", "+hhmm", "+hh", or with "-"), into the UTC moment
// it names. The fraction is dropped, as the items keep whole seconds. False for any other text.
bool TryReadIsoUTC(std::string_view text, TDateTime& utc);
