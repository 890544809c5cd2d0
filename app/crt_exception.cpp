#include "app/crt_exception.h"

#include "platform/system.h"

namespace app {

CCrtException::CCrtException() { plat::installRuntimeErrorTrap(); }

}  // namespace app
