#include "app/app.h"

// Set first thing in WinMain; kept apart from it so that the code loading resources
// links into the tests as well.
HINSTANCE hInstance;
