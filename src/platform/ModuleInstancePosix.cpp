#include "platform/ModuleInstance.h"

void* moduleInstance = nullptr;
