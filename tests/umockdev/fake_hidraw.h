// The device side of one fake /dev/hidrawN node in a umockdev testbed.
//
// umockdev backs the node with a PTY, which keeps no report boundaries, and
// forwards the client's ioctl, read and write calls on it to this process.
// The node answers them the way the kernel's hidraw driver does:
//  - HIDIOCGRDESCSIZE and HIDIOCGRDESC give the report descriptor;
//  - every write is one output report, handed whole to the responder;
//  - every read takes exactly one queued input report.
// The PTY only carries readiness: one byte per queued input report, so that
// the client's poll() wakes up exactly when a report waits. After hangUp()
// the master side is closed (poll reports POLLHUP), reads fail with EIO and
// writes and ioctls with ENODEV, as on an unplugged hidraw device.
// hangUpQuietly() fails them the same way but leaves poll() silent: a
// client that reads on POLLHUP until it hears of the removal (Wine's
// winebus, holding its device lock) would spin on the node.
//
// All handlers run on umockdev's own thread and never wait for a client: a
// blocking read without a report is completed later, when one arrives or the
// node hangs up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace iap::umock {

using Report = std::vector<uint8_t>;

// Takes one output report as the client wrote it (byte 0 the report ID) and
// returns the input reports to deliver. Runs on umockdev's thread; must not
// block.
using Responder = std::function<std::vector<Report>(const uint8_t* data, size_t length)>;

class FakeHidraw {
public:
    // The handler exists from here on; the PTY comes later (bindMaster), so
    // that the testbed can attach the handler before it announces the node.
    FakeHidraw(std::string nodePath, std::vector<uint8_t> reportDescriptor, Responder responder);
    ~FakeHidraw();
    FakeHidraw(const FakeHidraw&) = delete;
    FakeHidraw& operator=(const FakeHidraw&) = delete;

    const std::string& nodePath() const { return nodePath_; }
    // The PTY's real device number, which fstat() on the client's fd shows.
    unsigned long rdev() const { return rdev_; }
    UMockdevIoctlBase* handler() const { return handler_; }
    // masterFd: the PTY master that the testbed made for nodePath. Reports
    // queued before it are announced on it at once.
    void bindMaster(int masterFd);

    // Queues one input report for the client (any thread).
    void deliver(Report report);
    // The device is gone (any thread; idempotent).
    void hangUp();
    void hangUpQuietly();
    // hangUp(), then waits until no responder call runs any more: after it
    // the responder's owner may go. Not with a lock held that the responder
    // takes.
    void retire();
    bool isGone() const;
    // Input reports queued and not read yet.
    size_t inputReportsPending() const;

private:
    void handleIoctl(UMockdevIoctlClient* client);
    void handleRead(UMockdevIoctlClient* client);
    void handleWrite(UMockdevIoctlClient* client);
    // Marks the node gone and ends waiting reads; lock held. False when it
    // was gone already.
    bool goneLocked();
    // Closes the master side in place once it is bound; lock held.
    void closeMasterLocked();
    // Completes client's read with report; lock held.
    void completeRead(UMockdevIoctlClient* client, const Report& report);

    const std::string nodePath_;
    int masterFd_ = -1;
    int peerFd_ = -1;  // our own end of the slave side, to take readiness bytes back
    unsigned long rdev_ = 0;
    const std::vector<uint8_t> descriptor_;
    const Responder responder_;
    UMockdevIoctlBase* handler_ = nullptr;

    std::mutex writeMutex_;  // held across the responder call
    mutable std::mutex mutex_;
    std::deque<Report> pending_;
    std::deque<UMockdevIoctlClient*> waitingReaders_;
    bool gone_ = false;
};

}  // namespace iap::umock
