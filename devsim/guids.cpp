// devsim's own copies of the contract's ids (selectany, so they merge with the layer's).
#include <initguid.h>
#include "devfs/wpd.h"
