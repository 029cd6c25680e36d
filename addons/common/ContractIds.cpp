// The contract's identifiers, defined once in each add-on.
#include <windows.h>
#include <ole2.h>

#include <initguid.h>

#include "kestrix.h"
