#ifdef _WIN32
#define _CRT_RAND_S  // rand_s: RtlGenRandom
#endif
#include "bytes/uuid.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#ifndef _WIN32
#include <sys/random.h>
#endif

namespace iap {

void systemRandom(std::span<uint8_t> out) {
#ifdef _WIN32
    for (size_t i = 0; i < out.size(); i += 4) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) throw std::runtime_error("the system gives no random numbers");
        const size_t n = out.size() - i < 4 ? out.size() - i : 4;
        std::memcpy(out.data() + i, &value, n);
    }
#else
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("the system gives no random numbers: ") + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
#endif
}

Uuid uuidV7(std::chrono::system_clock::time_point time) {
    Uuid u{};
    systemRandom(u);
    const auto ms = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
    for (int i = 0; i < 6; ++i) u[i] = static_cast<uint8_t>(ms >> (40 - 8 * i));
    u[6] = static_cast<uint8_t>(0x70 | (u[6] & 0x0F));
    u[8] = static_cast<uint8_t>(0x80 | (u[8] & 0x3F));
    return u;
}

Uuid uuidV8(std::span<const uint8_t, 16> bytes) {
    Uuid u{};
    std::memcpy(u.data(), bytes.data(), u.size());
    u[6] = static_cast<uint8_t>(0x80 | (u[6] & 0x0F));
    u[8] = static_cast<uint8_t>(0x80 | (u[8] & 0x3F));
    return u;
}

std::string uuidText(const Uuid& uuid) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < uuid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[uuid[i] >> 4];
        text += digits[uuid[i] & 0x0F];
    }
    return text;
}

}  // namespace iap
