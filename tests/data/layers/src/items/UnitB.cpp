#include "items/UnitA.h"
#include "items/UnitB.h"
