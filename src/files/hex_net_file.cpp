#include "files/hex_net_file.h"
