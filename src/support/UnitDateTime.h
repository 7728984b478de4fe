#pragma once
// UnitDateTime lives in base/ now, below the platform. This name stays only while UnitKovaReminders.h
// includes it here; once it includes "base/UnitDateTime.h", delete this file.

#include "base/UnitDateTime.h"
