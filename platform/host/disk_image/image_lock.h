// The lock on a disk image for the whole run, in the form QEMU's own image
// locking uses, so that the program and a running emulator keep off each
// other's image, and two copies of the program take turns.
//
// QEMU (block/file-posix.c) locks an image with open-file-description
// locks (F_OFD_SETLK), shared read locks of one byte each: byte 100 + i
// while it holds permission i, byte 200 + i while it does not let others
// have permission i (0 consistent read, 1 write, 2 unchanged write,
// 3 resize, 4 graph change). Before it runs it tests, with F_OFD_GETLK as
// for a write lock, byte 200 + i for each permission i it wants and byte
// 100 + i for each one it does not share, and refuses the image when any
// is held ("Failed to get "write" lock").
//
// The program, a writer: first an exclusive lock on a byte of its own
// (kTurnByte), waited for, so that a second copy waits for the first;
// then read locks on bytes 100-104 and 200-204 (every permission held,
// none shared), then the same test as QEMU's on all of them. QEMU
// started while the program holds the image finds byte 200 taken and
// refuses; a QEMU that holds the image holds byte 100, so the program
// refuses ("the image is in use"). Both sides set their bytes before
// they test, so when they start together at least one refuses.
// A reader (an image without write permission) takes byte 100 (it reads)
// and 201 (it lets no one write), tests byte 101, and shares its turn
// byte with other readers.
//
// The descriptor is left open across exec: the mtools children get it,
// and a child that outlives a killed program holds the image until it
// has finished writing. The lock goes when the last holder closes it.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_IMAGE_LOCK_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_IMAGE_LOCK_H

#include <memory>
#include <string>

namespace host {

class ImageLock {
public:
    // Waits for other copies of the program, then takes the image; null,
    // with a one-line reason, when another program holds it or the file
    // cannot be opened.
    static std::unique_ptr<ImageLock> Acquire(const std::string &image, bool write, std::string *why);
    // Whether another copy of the program holds or shares the image now
    // (its turn byte is locked), found without waiting and without taking it.
    static bool TurnTaken(const std::string &image);
    ~ImageLock();
    ImageLock(const ImageLock &) = delete;
    ImageLock &operator=(const ImageLock &) = delete;

    int fd() const { return fd_; }

    static constexpr long kQemuPermBase = 100;
    static constexpr long kQemuSharedBase = 200;
    static constexpr int kQemuPermCount = 5;
    // Far from QEMU's and libvirt's bytes (libvirt takes byte 0).
    static constexpr long kTurnByte = 0x70666d00;  // "pfm\0"

private:
    explicit ImageLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace host

#endif
