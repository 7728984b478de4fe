#include "items/UnitE.h"

#include "items/UnitC.h"
