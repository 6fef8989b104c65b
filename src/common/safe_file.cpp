#include "common/safe_file.h"

#include "common/end_signals.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Names tried for one temporary file before the save fails.
constexpr int TEMPORARY_TRIES = 100;

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

// Creates a temporary file beside name under a name of this run's own (the
// process number and a count), trying the next count while the name is
// taken: whatever holds it belongs to another run, or to a dead one, and
// stays. The signals are held until the handler knows the file. -1 when
// none can be made.
static int create_temporary_file(const char *name, std::string &tmp)
{
    static unsigned count;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    for (int tries = 0; tries < TEMPORARY_TRIES; tries++) {
        tmp = std::string(name) + "." + std::to_string(getpid()) + "-" + std::to_string(count++);
        tmp += ".tmp";
        sigset_t saved;
        hold_end_signals_briefly(&saved);
        int fd = -1;
        int error = ENAMETOOLONG;
        if (note_temporary_file(tmp.c_str())) {
            fd = open(tmp.c_str(), flags, 0666);
            error = errno;
        }
        if (fd < 0)
            note_temporary_file(nullptr);
        restore_end_signals(&saved);
        if (fd >= 0 || error != EEXIST)
            return fd;
    }
    return -1;
}

bool replace_file(const char *name, const uint8_t *bytes, size_t size)
{
    std::string tmp;
    int fd = create_temporary_file(name, tmp);
    if (fd < 0)
        return false;
    bool ok = write_all(fd, bytes, size);
    ok = close(fd) == 0 && ok;
    // The rename and the handler's removal exclude each other: a signal
    // held past the rename finds no file noted.
    sigset_t saved;
    hold_end_signals_briefly(&saved);
    ok = ok && rename(tmp.c_str(), name) == 0;
    if (!ok)
        unlink(tmp.c_str());
    note_temporary_file(nullptr);
    restore_end_signals(&saved);
    return ok;
}
