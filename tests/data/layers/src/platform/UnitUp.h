#pragma once
#include "support/UnitDown.h"
