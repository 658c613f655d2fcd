#pragma once

#include <QString>
#include <QtGlobal>

namespace Quillory::Platform {

// The operating system's own calls live behind this interface, in one file for each system
// (platform_posix.cpp here), so that a port replaces that file and nothing else. What comes through
// is in Qt's and the program's own types.

// Whether the program runs with the system administrator's rights, under which the engine's sandbox
// does not start.
bool runsAsSuperuser();

// Whether standard error can take a short line now without blocking.
bool standardErrorWritable();

// Whether a process of this id runs on this machine (one of another user counts as running).
bool processRunning(qint64 pid);

// Ends the process of this id at once, without letting it run anything first. True when it was sent.
bool killProcess(qint64 pid);

// What kind of disk holds a path, as far as locks go: on a local disk every lock is held through this
// machine's own kernel; on a network disk, other machines hold them too, where this one cannot look.
enum class DiskPlace
{
    Local,
    Network,
    Unknown, // the system did not say: treat it as a network disk
};
struct Disk
{
    DiskPlace place = DiskPlace::Unknown;
    QString type;  // the file system's name where it is a network one ("nfs", "cifs", ...)
    QString error; // why the place is unknown
};
Disk diskOf(const QString &path);

// Removes a lock file that no process holds open under a kernel lock. Refuses (Held) while one does,
// or when the path names another file than the one checked (a new holder made it meanwhile).
enum class Removal
{
    Removed, // or it was gone already
    Held,
    Failed,
};
struct RemovalResult
{
    Removal status = Removal::Failed;
    QString error; // why it failed
};
RemovalResult removeUnheldFile(const QString &path);

// Opens a file for reading only when it is a regular file, and never waits on what a path names
// instead (a FIFO without a writer, a device). A symbolic link is followed to what it names when
// `followLinks`, and refused otherwise. The descriptor is the caller's to close.
struct OpenedFile
{
    int descriptor = -1;
    bool missing = false; // nothing there
    QString notRegular;   // what is there instead of a regular file: "a folder", "a FIFO", ...
    QString error;        // why it could not be opened otherwise
};
OpenedFile openRegularFile(const QString &path, bool followLinks);

} // namespace Quillory::Platform
