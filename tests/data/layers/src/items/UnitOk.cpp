#include "items/UnitA.h"
#include "support/UnitDown.h"
#include <vector>
#include "third_party/missing.h"
