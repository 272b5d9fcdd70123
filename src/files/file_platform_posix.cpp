#include <fcntl.h>

#include "files/file_platform.h"

const int kFileOpenFlags = O_CLOEXEC;
