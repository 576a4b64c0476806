// The one place where the contract's class ids, interface ids and property keys are defined.
#include <initguid.h>
#include "devfs/wpd.h"
