#include "app/crt_exception.h"

#include "platform/system.h"

CCrtException::CCrtException() { plat::installRuntimeErrorTrap(); }
