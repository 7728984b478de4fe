#pragma once
#include "items/UnitE.h"
