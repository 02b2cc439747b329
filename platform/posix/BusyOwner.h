#pragma once
// Who holds a serial device that we could not open, for the Busy message.
//
// The kernel's lock table (/proc/locks) names the process that holds the flock on a device node;
// that is the program actually using the port, even when others (a getty, a simulator keeping a
// pseudo-terminal open) merely have it open. The table is read from a path given as a parameter so
// that it can be run over a made-up one.

namespace vornic::platform {

// The pid holding an exclusive flock on the inode (devMajor:devMinor, inode) of the node's own
// file system, as listed in the lock table at locksPath; 0 when none is listed or the table cannot
// be read. Blocked waiters and other lock kinds are ignored, malformed lines skipped, and the
// amount read is bounded.
[[nodiscard]] long flockHolderIn(const char* locksPath, unsigned devMajor, unsigned devMinor,
                                 unsigned long long inode);

}  // namespace vornic::platform
