// The program's server and class table, set up as the program main sets
// them up, for tests of what the program serves.
#pragma once

namespace testing_support {

// Once per process, kept until it ends: the server, the directory's
// factory, the init hooks (COM, then the server) and the error handler.
void StartProgramServer();

}  // namespace testing_support
