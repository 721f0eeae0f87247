// ordan-bridge-peer: the module's side of the bridge benchmark, a TCP
// server without any pacing (--listen ADDRESS:PORT). Driven on stdin, one
// command a line, each answered on stdout:
//   echo, sink     send back what comes in, or drop it: "ok"
//   reply N        answer every read with N bytes, the first 8 those of the
//                  request (its tag): "ok"
//   expect N       "got N" once N more bytes have come in
//   send N         N bytes to each connection: "sent N"
//   restart MS     "down" at once (every connection closed, no listening),
//                  "up" once it listens again MS later
// The first line it prints is "listening ADDRESS:PORT".
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

struct Peer {
    sockaddr_in address = {};
    int listener = -1;
    std::vector<int> clients;
    bool echo = true;
    size_t replySize = 0;            // answer each read with this many bytes
    unsigned long long bytes = 0;    // received in all
    unsigned long long expectAt = 0; // say "got" when `bytes` reaches it; 0: not asked
    unsigned long long expected = 0;
    bool waitingToListen = false;
    Clock::time_point upAt;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "ordan-bridge-peer: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void say(const std::string &line)
{
    // The benchmark waits on each line; with it gone, the peer is done.
    if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0)
        fail("stdout");
}

void listenNow(Peer &peer)
{
    peer.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (::setsockopt(peer.listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(peer.listener, reinterpret_cast<sockaddr *>(&peer.address), sizeof peer.address) !=
            0 ||
        ::listen(peer.listener, 8) != 0)
        fail("listen");
}

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the connection went away: its bytes with it
        data += n;
        size -= size_t(n);
    }
}

void command(Peer &peer, const std::string &line)
{
    const auto number = [&](size_t at) { return std::strtoull(line.c_str() + at, nullptr, 10); };
    if (line == "echo" || line == "sink") {
        peer.echo = line == "echo";
        peer.replySize = 0;
        say("ok");
    } else if (line.rfind("reply ", 0) == 0) {
        peer.replySize = number(6);
        say("ok");
    } else if (line.rfind("expect ", 0) == 0) {
        peer.expected = number(7);
        peer.expectAt = peer.bytes + peer.expected;
    } else if (line.rfind("send ", 0) == 0) {
        const std::string bytes(number(5), 'x');
        for (int fd : peer.clients)
            writeAll(fd, bytes.data(), bytes.size());
        say("sent " + std::to_string(bytes.size()));
    } else if (line.rfind("restart ", 0) == 0) {
        for (int fd : peer.clients)
            ::close(fd);
        peer.clients.clear();
        ::close(peer.listener);
        peer.listener = -1;
        peer.waitingToListen = true;
        peer.upAt = Clock::now() + std::chrono::milliseconds(number(8));
        say("down");
    } else {
        say("unknown command: " + line);
    }
}

// A client's bytes: counted, then echoed, answered or dropped.
void received(Peer &peer, int fd, const char *data, size_t size)
{
    peer.bytes += size;
    if (peer.expectAt > 0 && peer.bytes >= peer.expectAt) {
        peer.expectAt = 0;
        say("got " + std::to_string(peer.expected));
    }
    if (peer.replySize > 0) {
        std::string reply(peer.replySize, 'r');
        const size_t tag = std::min<size_t>({8, size, reply.size()});
        reply.replace(0, tag, data, tag);
        writeAll(fd, reply.data(), reply.size());
    } else if (peer.echo) {
        writeAll(fd, data, size);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    Peer peer;
    peer.address.sin_family = AF_INET;
    const std::string text = argc == 3 && std::string(argv[1]) == "--listen" ? argv[2] : "";
    const size_t colon = text.rfind(':');
    char *end = nullptr;
    const long port = colon == std::string::npos ? 0 : std::strtol(&text[colon + 1], &end, 10);
    if (colon == std::string::npos || *end != '\0' || port < 1 || port > 65535 ||
        ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &peer.address.sin_addr) != 1) {
        std::fprintf(stderr, "usage: ordan-bridge-peer --listen ADDRESS:PORT\n");
        return 2;
    }
    peer.address.sin_port = htons(uint16_t(port));
    std::signal(SIGPIPE, SIG_IGN);
    listenNow(peer);
    say("listening " + text);

    std::string input;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        if (peer.listener >= 0)
            fds.push_back({peer.listener, POLLIN, 0});
        const size_t firstClient = fds.size();
        for (int fd : peer.clients)
            fds.push_back({fd, POLLIN, 0});
        int timeoutMs = -1;
        if (peer.waitingToListen)
            timeoutMs = int(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(peer.upAt - Clock::now())
                       .count()));
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
            fail("poll");

        if (peer.waitingToListen && Clock::now() >= peer.upAt) {
            peer.waitingToListen = false;
            listenNow(peer);
            say("up");
        }
        // Clients first, from the end (a closed one leaves the list), then
        // new ones and commands, which may close them all.
        for (size_t i = fds.size(); i-- > firstClient;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n <= 0) {
                ::close(fds[i].fd);
                peer.clients.erase(peer.clients.begin() + long(i - firstClient));
                continue;
            }
            received(peer, fds[i].fd, buffer.data(), size_t(n));
        }
        if (firstClient > 1 && (fds[1].revents & POLLIN) && peer.listener == fds[1].fd) {
            const int fd = ::accept4(peer.listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                const int yes = 1;
                // Without it the figures would be those of Nagle's delay.
                if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes) != 0)
                    fail("TCP_NODELAY");
                peer.clients.push_back(fd);
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
            if (n <= 0)
                return 0; // stdin closed: the benchmark is done
            input.append(buffer.data(), size_t(n));
            size_t end;
            while ((end = input.find('\n')) != std::string::npos) {
                const std::string line = input.substr(0, end);
                input.erase(0, end + 1);
                command(peer, line);
            }
        }
    }
}
