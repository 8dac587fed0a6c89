#include "file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileHandle openForReading(const char *path) {
    if (path == nullptr) return INVALID_FILE;
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return INVALID_FILE;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return INVALID_FILE;
    }
    return fd;
}

FileHandle createForWriting(const char *path) {
    if (path == nullptr) return INVALID_FILE;
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? INVALID_FILE : fd;
}

bool readFile(FileHandle file, void *buffer, size_t count, size_t *got) {
    size_t done = 0;
    char *p = static_cast<char *>(buffer);
    while (done < count) {
        ssize_t r = ::read(file, p + done, count - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            *got = done;
            return false;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    *got = done;
    return true;
}

bool writeFile(FileHandle file, const void *buffer, size_t count) {
    size_t done = 0;
    const char *p = static_cast<const char *>(buffer);
    while (done < count) {
        ssize_t w = ::write(file, p + done, count - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

bool seekFromStart(FileHandle file, int64_t offset) {
    return ::lseek(file, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool seekFromCurrent(FileHandle file, int64_t offset) {
    return ::lseek(file, static_cast<off_t>(offset), SEEK_CUR) >= 0;
}

int64_t fileSize(FileHandle file) {
    struct stat st;
    if (::fstat(file, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool closeFile(FileHandle file) {
    return ::close(file) == 0;
}

bool isSameFile(FileHandle file, const char *path) {
    struct stat a, b;
    if (::fstat(file, &a) != 0 || ::stat(path, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isRegularFile(FileHandle file) {
    struct stat st;
    return ::fstat(file, &st) == 0 && S_ISREG(st.st_mode);
}

bool deleteFile(const char *path) {
    // Through a symbolic link the file written is its target: remove that.
    char resolved[PATH_MAX];
    if (::realpath(path, resolved) != nullptr) return ::unlink(resolved) == 0;
    return ::unlink(path) == 0;
}

} // namespace platform
