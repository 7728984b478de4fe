#pragma once
// UnitExceptions lives in base/ now, below the platform. This name stays only while KovaGadgetServer.cpp
// and UnitKovaWatchList.cpp include it here; once they include "base/UnitExceptions.h", delete this file.

#include "base/UnitExceptions.h"
