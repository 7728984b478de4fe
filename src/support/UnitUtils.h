#pragma once
// UnitUtils lives in base/ now, below the platform. This name stays only while KovaGadgetServer.cpp,
// UnitKovaWatchList.cpp and UnitKovaReminders.cpp include it here; once they include "base/UnitUtils.h",
// delete this file.

#include "base/UnitUtils.h"
