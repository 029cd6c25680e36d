// For installer.sh, which refuses a registration with it: sets the access
// of a key of HKEY_CLASSES_ROOT, made when missing.
//   key_dacl.exe <path> <SDDL>      exit code 0 when set
#include "tests/support/RegistryScope.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    return testing_support::SetKeyDacl(HKEY_CLASSES_ROOT, argv[1], argv[2], true) ? 0 : 1;
}
