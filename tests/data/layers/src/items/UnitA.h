#pragma once
#include "UnitB.h"
