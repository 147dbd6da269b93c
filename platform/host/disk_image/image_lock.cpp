#include "platform/host/disk_image/image_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace host {
namespace {

bool LockByte(int fd, int command, short type, long byte)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, command, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// True when another open file description holds a lock on `byte`: the
// test QEMU makes (a write lock asked for, not taken).
bool ByteHeld(int fd, long byte)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return true;
    return lock.l_type != F_UNLCK;
}

}  // namespace

std::unique_ptr<ImageLock> ImageLock::Acquire(const std::string &image, bool write, std::string *why)
{
    // Not O_CLOEXEC: the mtools children hold the lock with the program.
    int fd = open(image.c_str(), write ? O_RDWR : O_RDONLY);
    if (fd < 0) {
        if (why) *why = std::string("cannot be opened: ") + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<ImageLock> lock(new ImageLock(fd));
    if (!LockByte(fd, F_OFD_SETLKW, write ? F_WRLCK : F_RDLCK, kTurnByte)) {
        if (why) *why = std::string("cannot be locked: ") + std::strerror(errno);
        return nullptr;
    }
    std::vector<long> take, test;
    if (write) {
        for (int i = 0; i < kQemuPermCount; ++i) {
            take.push_back(kQemuPermBase + i);
            take.push_back(kQemuSharedBase + i);
        }
        test = take;
    } else {
        take = {kQemuPermBase + 0, kQemuSharedBase + 1};
        test = {kQemuPermBase + 1};
    }
    for (long byte : take) {
        if (!LockByte(fd, F_OFD_SETLK, F_RDLCK, byte)) {
            if (why) *why = "the image is in use by another program (its lock bytes are taken)";
            return nullptr;
        }
    }
    for (long byte : test) {
        if (ByteHeld(fd, byte)) {
            if (why) *why = "the image is in use by another program (an emulator has it open?)";
            return nullptr;
        }
    }
    return lock;
}

bool ImageLock::TurnTaken(const std::string &image)
{
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kTurnByte;
    lock.l_len = 1;
    bool taken = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return taken;
}

ImageLock::~ImageLock()
{
    if (fd_ >= 0) close(fd_);
}

}  // namespace host
