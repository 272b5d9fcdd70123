#include "engine/serial_link.h"

#include "engine/shared_state.h"

void CloseTargetPort() { g_State.szOpenPort[0] = '\0'; }
