#pragma once
// Includes a layer above its own: the layer check must refuse this tree.
#include "engine/engine.h"
