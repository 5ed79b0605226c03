#include "fake_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace iap::umock {
namespace {

constexpr char kReadyByte = 'r';

// Our own descriptor of the PTY's slave side, taken from the master so that
// no path (and no preload wrapper) is involved.
int openPeer(int masterFd) {
    const int fd = ::ioctl(masterFd, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error(std::string("TIOCGPTPEER failed: ") + std::strerror(errno));
    }
    return fd;
}

void makeRaw(int masterFd) {
    termios ios{};
    if (::tcgetattr(masterFd, &ios) == 0) {
        ::cfmakeraw(&ios);
        ::tcsetattr(masterFd, TCSANOW, &ios);
    }
}

}  // namespace

FakeHidraw::FakeHidraw(std::string nodePath, std::vector<uint8_t> reportDescriptor, Responder responder)
    : nodePath_(std::move(nodePath)), descriptor_(std::move(reportDescriptor)), responder_(std::move(responder)) {
    handler_ = umockdev_ioctl_base_new();
    using Handler = gboolean (*)(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer);
    const Handler onIoctl = [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) -> gboolean {
        static_cast<FakeHidraw*>(self)->handleIoctl(client);
        return TRUE;
    };
    const Handler onRead = [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) -> gboolean {
        static_cast<FakeHidraw*>(self)->handleRead(client);
        return TRUE;
    };
    const Handler onWrite = [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) -> gboolean {
        static_cast<FakeHidraw*>(self)->handleWrite(client);
        return TRUE;
    };
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(onRead), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(onWrite), this);
}

void FakeHidraw::bindMaster(int masterFd) {
    std::lock_guard<std::mutex> lock(mutex_);
    masterFd_ = masterFd;
    // The master must not leak into child processes: a child holding it
    // would keep the node alive after an unplug.
    ::fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
    makeRaw(masterFd_);
    peerFd_ = openPeer(masterFd_);
    struct stat st {};
    if (::fstat(peerFd_, &st) == 0) {
        rdev_ = st.st_rdev;
    }
    for (size_t i = 0; i < pending_.size(); ++i) {
        [[maybe_unused]] const ssize_t put = ::write(masterFd_, &kReadyByte, 1);  // the byte only signals
    }
    if (gone_) closeMasterLocked();
}

FakeHidraw::~FakeHidraw() {
    hangUp();
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
}

void FakeHidraw::handleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const bool sizeOnly = request == HIDIOCGRDESCSIZE;
    if (isGone() || (!sizeOnly && request != HIDIOCGRDESC)) {
        umockdev_ioctl_client_complete(client, -1, isGone() ? ENODEV : ENOTTY);
        return;
    }
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(
        umockdev_ioctl_client_get_arg(client), 0, sizeOnly ? sizeof(int) : sizeof(hidraw_report_descriptor), &error);
    if (data == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    int result = 0;
    if (sizeOnly) {
        const int value = static_cast<int>(descriptor_.size());
        std::memcpy(data->data, &value, sizeof value);
    } else if (auto* out = reinterpret_cast<hidraw_report_descriptor*>(data->data); out->size < HID_MAX_DESCRIPTOR_SIZE) {
        std::memcpy(out->value, descriptor_.data(), std::min<size_t>(out->size, descriptor_.size()));
    } else {
        result = EINVAL;
    }
    g_object_unref(data);
    umockdev_ioctl_client_complete(client, result != 0 ? -1 : 0, result);
}

void FakeHidraw::handleRead(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return;
    }
    if (pending_.empty()) {
        // A blocking read with nothing queued: answer it when a report comes.
        g_object_ref(client);
        waitingReaders_.push_back(client);
        return;
    }
    Report report = std::move(pending_.front());
    pending_.pop_front();
    char ready = 0;
    if (peerFd_ >= 0) {
        [[maybe_unused]] const ssize_t taken = ::read(peerFd_, &ready, 1);  // the byte only signals
    }
    completeRead(client, report);
}

void FakeHidraw::completeRead(UMockdevIoctlClient* client, const Report& report) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t n = std::min<size_t>(static_cast<size_t>(arg->data_len), report.size());
    umockdev_ioctl_data_update(arg, 0, const_cast<uint8_t*>(report.data()), static_cast<int>(n));
    umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
}

void FakeHidraw::handleWrite(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> busy(writeMutex_);
    if (isGone()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t length = static_cast<size_t>(arg->data_len);
    std::vector<Report> replies;
    if (responder_) {
        replies = responder_(arg->data, length);
    }
    // The replies are queued before the write returns, as a device that
    // answers at once would have them ready for the next read.
    for (Report& reply : replies) {
        deliver(std::move(reply));
    }
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
}

void FakeHidraw::deliver(Report report) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_) {
        return;
    }
    if (!waitingReaders_.empty()) {
        UMockdevIoctlClient* client = waitingReaders_.front();
        waitingReaders_.pop_front();
        completeRead(client, report);
        g_object_unref(client);
        return;
    }
    pending_.push_back(std::move(report));
    if (masterFd_ >= 0) {
        [[maybe_unused]] const ssize_t put = ::write(masterFd_, &kReadyByte, 1);  // the byte only signals
    }
}

bool FakeHidraw::goneLocked() {
    if (gone_) return false;
    gone_ = true;
    pending_.clear();
    for (UMockdevIoctlClient* client : waitingReaders_) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        g_object_unref(client);
    }
    waitingReaders_.clear();
    return true;
}

void FakeHidraw::hangUp() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (goneLocked()) closeMasterLocked();
}

void FakeHidraw::hangUpQuietly() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!goneLocked() || peerFd_ < 0) return;
    // Takes back the readiness of reports no one will read.
    char ready[64];
    while (::read(peerFd_, ready, sizeof ready) > 0) {
    }
}

void FakeHidraw::closeMasterLocked() {
    if (masterFd_ < 0) return;
    // Close the master side in place: the testbed keeps the descriptor
    // number and closes it itself later, so it now names /dev/null.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup3(null, masterFd_, O_CLOEXEC);
        ::close(null);
    }
    ::close(peerFd_);
    peerFd_ = -1;
}

void FakeHidraw::retire() {
    hangUp();
    std::lock_guard<std::mutex> busy(writeMutex_);
}

bool FakeHidraw::isGone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gone_;
}

size_t FakeHidraw::inputReportsPending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

}  // namespace iap::umock
