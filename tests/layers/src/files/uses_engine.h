#pragma once
// files and engine are side by side: the layer check must refuse this tree.
#include "os/io.h"
#include <engine/serial_link.h>
