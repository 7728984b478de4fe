#pragma once
#include "items/UnitD.h"
