// Everything the binding calls: the entry drivers, and through them the stages, settings and
// types they take and return. Only code outside src/core includes this; inside it, the drivers
// include the stages and never the other way round.
#pragma once

#include "drivers/centerlines.hpp"
#include "drivers/inspection.hpp"
#include "drivers/polygons.hpp"
#include "drivers/tiles.hpp"
