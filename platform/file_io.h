// Thin file layer for the codec: whole-file handles with explicit results.
// Every call reports failure instead of hiding it, so the codec can tell a
// full disk or an unreadable input from success.
#ifndef VEK_PLATFORM_FILE_IO_H
#define VEK_PLATFORM_FILE_IO_H

#include <cstddef>
#include <cstdint>

namespace platform {

#if defined(_WIN32)
typedef void *FileHandle;  // a Win32 file handle
const FileHandle INVALID_FILE = reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1));  // INVALID_HANDLE_VALUE
#else
typedef int FileHandle;  // a file descriptor
const FileHandle INVALID_FILE = -1;
#endif

// Opens an existing file for reading. Directories and other things that are
// not readable files are refused.
FileHandle openForReading(const char *path);

// Creates a file for writing; an existing file is replaced and truncated.
FileHandle createForWriting(const char *path);

// Reads up to `count` bytes; `got` receives the number read (less than count
// only at the end of the file). Returns false on a read error.
bool readFile(FileHandle file, void *buffer, size_t count, size_t *got);

// Writes all `count` bytes. Returns false if any of them could not be written.
bool writeFile(FileHandle file, const void *buffer, size_t count);

// Moves the file position: from the start, or relative to the current one.
bool seekFromStart(FileHandle file, int64_t offset);
bool seekFromCurrent(FileHandle file, int64_t offset);

// Size of the file in bytes, or -1 if it cannot be told.
int64_t fileSize(FileHandle file);

// Closes the handle; false if the system reports that data were lost.
bool closeFile(FileHandle file);

// True if `path` names the same file as the open handle (following links;
// on Windows: the same volume serial number and file index).
bool isSameFile(FileHandle file, const char *path);

// True if the open handle is a regular file (an output that may be deleted).
bool isRegularFile(FileHandle file);

// Removes the file a name refers to (the target of a symbolic link);
// false if it could not be removed.
bool deleteFile(const char *path);

} // namespace platform

#endif
