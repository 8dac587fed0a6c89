// The file layer on Win32: the system's file handles and calls.
#include "file_io.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE toHandle(FileHandle file) {
    return static_cast<HANDLE>(file);
}

// ReadFile and WriteFile take at most a DWORD of bytes per call.
const size_t MAX_CHUNK = 0x40000000;

} // namespace

FileHandle openForReading(const char *path) {
    if (path == nullptr) return INVALID_FILE;
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened, so
    // folders are refused here.
    HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? INVALID_FILE : static_cast<FileHandle>(file);
}

FileHandle createForWriting(const char *path) {
    if (path == nullptr) return INVALID_FILE;
    HANDLE file = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? INVALID_FILE : static_cast<FileHandle>(file);
}

bool readFile(FileHandle file, void *buffer, size_t count, size_t *got) {
    size_t done = 0;
    char *p = static_cast<char *>(buffer);
    while (done < count) {
        const size_t want = count - done < MAX_CHUNK ? count - done : MAX_CHUNK;
        DWORD read = 0;
        if (!::ReadFile(toHandle(file), p + done, static_cast<DWORD>(want), &read, nullptr)) {
            *got = done;
            return false;
        }
        if (read == 0) break;  // end of the file
        done += read;
    }
    *got = done;
    return true;
}

bool writeFile(FileHandle file, const void *buffer, size_t count) {
    size_t done = 0;
    const char *p = static_cast<const char *>(buffer);
    while (done < count) {
        const size_t want = count - done < MAX_CHUNK ? count - done : MAX_CHUNK;
        DWORD written = 0;
        if (!::WriteFile(toHandle(file), p + done, static_cast<DWORD>(want), &written, nullptr)) return false;
        if (written == 0) return false;
        done += written;
    }
    return true;
}

static bool seek(FileHandle file, int64_t offset, DWORD origin) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return ::SetFilePointerEx(toHandle(file), distance, nullptr, origin) != 0;
}

bool seekFromStart(FileHandle file, int64_t offset) {
    return seek(file, offset, FILE_BEGIN);
}

bool seekFromCurrent(FileHandle file, int64_t offset) {
    return seek(file, offset, FILE_CURRENT);
}

int64_t fileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(toHandle(file), &size)) return -1;
    return static_cast<int64_t>(size.QuadPart);
}

bool closeFile(FileHandle file) {
    return ::CloseHandle(toHandle(file)) != 0;
}

bool isSameFile(FileHandle file, const char *path) {
    if (path == nullptr) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    if (!::GetFileInformationByHandle(toHandle(file), &a)) return false;
    // Opened without access rights, only to read its identity: this does
    // not collide with the sharing mode of a handle that is already open.
    HANDLE other = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(other, &b) != 0;
    ::CloseHandle(other);
    return known && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool isRegularFile(FileHandle file) {
    // Disk files; consoles, pipes and devices such as NUL are not removed.
    return ::GetFileType(toHandle(file)) == FILE_TYPE_DISK;
}

bool deleteFile(const char *path) {
    return path != nullptr && ::DeleteFileA(path) != 0;
}

} // namespace platform
