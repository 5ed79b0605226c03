// A stream buffer writing to a file descriptor through the system's write
// call (POSIX write, or the C runtime's _write on Windows). A write that
// fails (a closed pipe) loses the output, never the devices.
#pragma once

#include <cstddef>
#include <streambuf>

namespace iap::flash {

class FdBuffer : public std::streambuf {
public:
    // writeSome: bytes written, <= 0 when nothing more can be; it retries
    // an interrupted call itself.
    using WriteSome = long (*)(int fd, const char* data, size_t size);

    FdBuffer(int fd, WriteSome writeSome) : fd_(fd), writeSome_(writeSome) {
        setp(buffer_, buffer_ + sizeof buffer_);
    }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) return traits_type::eof();
        if (c != traits_type::eof()) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        for (const char* p = pbase(); p < pptr();) {
            const long n = writeSome_(fd_, p, static_cast<size_t>(pptr() - p));
            if (n <= 0) break;
            p += n;
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return 0;
    }

private:
    int fd_;
    WriteSome writeSome_;
    char buffer_[8192];
};

}  // namespace iap::flash
