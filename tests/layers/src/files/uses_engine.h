#pragma once
// files and engine are side by side: the layer check must refuse this tree.
#include <engine/serial_link.h>
#include "os/io.h"
