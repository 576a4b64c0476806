// The one place where the contract's class ids, interface ids and property keys are defined.
#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <initguid.h>
#include "devfs/wpd.h"
