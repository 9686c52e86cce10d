/*
 * sockets.cpp - non-blocking TCP sends and frame reads with deadlines, and the connect.
 */
#include "sdkinternal.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <cerrno>

namespace netsdk
{
namespace detail
{

Io sendAll(int fd, const uint8_t *p, size_t n, Clock::time_point deadline, int idleMs, int flags)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT | flags);
        if (k > 0) {
            p += k;
            n -= size_t(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Closed;
        int ms = idleMs >= 0 ? idleMs : remainingMs(deadline);
        if (ms <= 0)
            return Io::Timeout;
        pollfd pfd{fd, POLLOUT, 0};
        int r = ::poll(&pfd, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0)
            return Io::Timeout;
        if (r < 0)
            return Io::Closed;
    }
    return Io::Ok;
}

Io readFrame(int fd, proto::FrameReader &reader, Clock::time_point deadline, proto::Frame &f)
{
    for (;;) {
        proto::Result r = reader.next(f);
        if (r == proto::Result::Ok)
            return Io::Ok;
        if (r != proto::Result::Incomplete)
            return Io::Bad;
        /* Read first and wait only when nothing is there: a frame that has already arrived costs
         * one call, and the bytes go straight into the reader. */
        size_t room = 16384;
        uint8_t *to = reader.space(room);
        ssize_t k = ::recv(fd, to, room, MSG_DONTWAIT);
        if (k > 0) {
            reader.commit(size_t(k));
            continue;
        }
        if (k == 0)
            return Io::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Closed;
        int ms = remainingMs(deadline);
        if (ms == 0)
            return Io::Timeout;
        pollfd pfd{fd, POLLIN, 0};
        int n = ::poll(&pfd, 1, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Io::Closed;
        if (n == 0)
            return Io::Timeout;
    }
}

bool parseIPv4(const char *text, in_addr &out)
{
    return text && ::inet_pton(AF_INET, text, &out) == 1;
}

std::shared_ptr<Socket> connectTo(const in_addr &addr, uint16_t port, int waitMs, int tries)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    for (int t = 0; t < tries; ++t) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        auto sock = std::make_shared<Socket>(fd);
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        int r = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        if (r != 0 && errno != EINPROGRESS)
            continue;
        if (r != 0) {
            pollfd pfd{fd, POLLOUT, 0};
            int n;
            do {
                n = ::poll(&pfd, 1, remainingMs(deadline));
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                continue;
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
                continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return sock;
    }
    return nullptr;
}

} // namespace detail
} // namespace netsdk
