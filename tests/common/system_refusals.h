// Refusals that some systems answer for real, brought about by a seccomp filter on the calling
// process: a file system without unnamed files, a user at the limit of processes. The filter
// holds for the threads and children started afterwards and can never be lifted, so these are
// called in a forked child that runs the operation and ends.
#pragma once

namespace test_files {

// Opening an unnamed file (O_TMPFILE) fails with EOPNOTSUPP from now on, as a file system
// without them answers (some network ones). False when the filter could not be installed.
bool refuseUnnamedFiles();

// Starting a thread fails with EAGAIN from now on, as it does at the user's process limit;
// forking still works. False when the filter could not be installed.
bool refuseThreads();

} // namespace test_files
