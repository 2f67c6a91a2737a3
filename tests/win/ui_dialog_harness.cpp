// The dialog tests' application object: framework boxes carry the test program's name.
#include "app/setup_app.h"

CQervOnlineSetupApp theApp;
