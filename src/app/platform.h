#pragma once

namespace Quillory::Platform {

// The operating system's own calls live behind this interface, in one file for each system
// (platform_posix.cpp here), so that a port replaces that file and nothing else. What comes through
// is in Qt's and the program's own types.

// Whether the program runs with the system administrator's rights, under which the engine's sandbox
// does not start.
bool runsAsSuperuser();

// Whether standard error can take a short line now without blocking.
bool standardErrorWritable();

} // namespace Quillory::Platform
