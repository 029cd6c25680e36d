// The contract's identifiers, defined once for the DLL.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <initguid.h>

#include "kestrix.h"
