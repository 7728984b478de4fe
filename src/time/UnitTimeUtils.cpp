#include "time/UnitTimeUtils.h"

#include "platform/UnitPlatformClock.h"

TDateTime ExactNow() {
    return Now();
}
