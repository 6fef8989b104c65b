#include "common/safe_file.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int open_regular_file(const char *path)
{
    // O_NONBLOCK makes the open of a FIFO without a writer return at once;
    // reads of a regular file never block, so it needs no clearing.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

FILE *open_regular_stream(const char *path)
{
    int fd = open_regular_file(path);
    if (fd < 0)
        return nullptr;
    FILE *stream = fdopen(fd, "rb");
    if (!stream)
        close(fd);
    return stream;
}

bool read_regular_file(const char *path, size_t max_bytes, std::vector<uint8_t> &bytes)
{
    int fd = open_regular_file(path);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && uint64_t(info.st_size) <= max_bytes;
    bytes.clear();
    if (ok)
        bytes.resize(size_t(info.st_size));
    // The file may shrink or grow while it is read: what the reads give,
    // up to the size it had, is the file.
    size_t got = 0;
    while (ok && got < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    bytes.resize(got);
    close(fd);
    return ok;
}

static bool write_all(int fd, const uint8_t *bytes, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

bool replace_file(const char *name, const uint8_t *bytes, size_t size)
{
    std::string tmp = std::string(name) + ".tmp";
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(tmp.c_str(), flags, 0666);
    // A stale temporary file (left by a killed run) or a link there goes,
    // then the creation is tried once more; a directory there stays and
    // fails it again.
    if (fd < 0 && errno == EEXIST && unlink(tmp.c_str()) == 0)
        fd = open(tmp.c_str(), flags, 0666);
    if (fd < 0)
        return false;
    bool ok = write_all(fd, bytes, size);
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), name) == 0)
        return true;
    unlink(tmp.c_str());
    return false;
}
