#pragma once
// Who holds a serial device that we could not open, or shares one that we did, for the Busy
// message.
//
// The kernel's lock table (/proc/locks) names the process that holds the flock on a device node;
// that is the program actually using the port, even when others (a getty, a simulator keeping a
// pseudo-terminal open) merely have it open. The table is read from a path given as a parameter so
// that it can be run over a made-up one.

#include <sys/types.h>

#include <cstddef>

namespace vornic::platform {

// Best effort: the program holding the device at `path` (its flock), or failing that those having
// it open, as "name (pid N)" entries; "" when none can be found. Never fails in any other way.
void findHolder(const char* path, char* out, size_t size);

// Up to three processes other than this one that have the character device `device` open, as
// "name (pid N)" entries; "" when there are none. For a pseudo-terminal, a process that holds its
// master side (the far end of the line, such as a simulator) is not counted. The scan of /proc is
// bounded.
void listOpeners(dev_t device, char* out, size_t size);

// The pid holding an exclusive flock on the inode (devMajor:devMinor, inode) of the node's own
// file system, as listed in the lock table at locksPath; 0 when none is listed or the table cannot
// be read. Blocked waiters and other lock kinds are ignored, malformed lines skipped, and the
// amount read is bounded.
[[nodiscard]] long flockHolderIn(const char* locksPath, unsigned devMajor, unsigned devMinor,
                                 unsigned long long inode);

}  // namespace vornic::platform
