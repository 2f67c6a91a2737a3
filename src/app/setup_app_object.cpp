// The setup's one application object. With no name of its own, the application is named after the
// executable, and that name captions the framework's message boxes.
#include "app/setup_app.h"

CQervOnlineSetupApp theApp;
