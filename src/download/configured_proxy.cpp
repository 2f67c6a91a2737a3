#include "download/configured_proxy.h"

ConfiguredProxy g_configuredProxy = {};
