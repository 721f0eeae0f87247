// ordan-bridge-peer: the module's side of a bridge test, a TCP server
// without pacing. It echoes what it gets (--echo), or carries it to a bus
// of its own (--bus PATH: a pseudo-terminal with a link at PATH, where a
// Modbus slave opens its serial port), the bus's bytes gathered until the
// bus has been quiet for --packet-timeout MS and sent in one write, as the
// module does. Driven on stdin, one command a line, each answered on
// stdout:
//   stats          "stats connections=C segments=S bytes=B accepted=A":
//                  data segments and bytes received over every connection
//                  so far (the kernel's own count, TCP_INFO), connections
//                  open and accepted
//   restart MS     "down" at once (every connection closed, no listening),
//                  then "up" once it listens again MS later
//   down, up       the same in two steps
//   send N         N bytes to each connection: "sent N"
//   sink, echo     drop what comes in, or send it back: "ok"
//   reply N        answer every read with N bytes (a request's reply): "ok"
//   expect N       "got N" once N more bytes have come in
// The first line it prints is "listening ADDRESS:PORT" (--listen
// ADDRESS:PORT, port 0 for any free one).
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
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
    size_t replySize = 0;            // answer each read with this many bytes; 0: echo or sink
    unsigned long long expectAt = 0; // say "got" when `bytes` reaches it; 0: nothing
    unsigned long long expected = 0;
    int busMaster = -1;
    int busSlave = -1;
    std::string busLink;
    std::string gathered; // from the bus, not yet sent
    Clock::time_point lastBusByte;
    int packetTimeoutMs = 3;
    Clock::time_point upAt;
    bool waitingToListen = false;
    unsigned long long segmentsClosed = 0, bytes = 0, accepted = 0;
};

void fail(const char *what)
{
    std::fprintf(stderr, "ordan-bridge-peer: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool listenNow(Peer &peer)
{
    peer.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(peer.listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(peer.listener, reinterpret_cast<sockaddr *>(&peer.address), sizeof peer.address) !=
            0 ||
        ::listen(peer.listener, 8) != 0) {
        ::close(peer.listener);
        peer.listener = -1;
        return false;
    }
    socklen_t length = sizeof peer.address;
    ::getsockname(peer.listener, reinterpret_cast<sockaddr *>(&peer.address), &length);
    return true;
}

unsigned long long segmentsOf(int fd)
{
    tcp_info info = {};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return 0;
    return info.tcpi_data_segs_in;
}

void closeClient(Peer &peer, size_t index)
{
    peer.segmentsClosed += segmentsOf(peer.clients[index]);
    ::close(peer.clients[index]);
    peer.clients.erase(peer.clients.begin() + long(index));
}

void goDown(Peer &peer)
{
    while (!peer.clients.empty())
        closeClient(peer, 0);
    if (peer.listener >= 0)
        ::close(peer.listener);
    peer.listener = -1;
    say("down");
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
    if (line == "stats") {
        unsigned long long segments = peer.segmentsClosed;
        for (int fd : peer.clients)
            segments += segmentsOf(fd);
        say("stats connections=" + std::to_string(peer.clients.size()) +
            " segments=" + std::to_string(segments) + " bytes=" + std::to_string(peer.bytes) +
            " accepted=" + std::to_string(peer.accepted));
    } else if (line.rfind("restart ", 0) == 0) {
        goDown(peer);
        peer.waitingToListen = true;
        peer.upAt = Clock::now() + std::chrono::milliseconds(std::atoi(line.c_str() + 8));
    } else if (line == "down") {
        goDown(peer);
    } else if (line == "up") {
        peer.waitingToListen = true;
        peer.upAt = Clock::now();
    } else if (line.rfind("send ", 0) == 0) {
        const std::string bytes(size_t(std::atol(line.c_str() + 5)), 'x');
        for (int fd : peer.clients)
            writeAll(fd, bytes.data(), bytes.size());
        say("sent " + std::to_string(bytes.size()));
    } else if (line == "sink" || line == "echo") {
        peer.echo = line == "echo";
        peer.replySize = 0;
        say("ok");
    } else if (line.rfind("reply ", 0) == 0) {
        peer.replySize = size_t(std::atol(line.c_str() + 6));
        say("ok");
    } else if (line.rfind("expect ", 0) == 0) {
        peer.expected = std::strtoull(line.c_str() + 7, nullptr, 10);
        peer.expectAt = peer.bytes + peer.expected;
    } else {
        say("unknown command: " + line);
    }
}

void makeBus(Peer &peer)
{
    peer.busMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (peer.busMaster < 0 || ::grantpt(peer.busMaster) != 0 || ::unlockpt(peer.busMaster) != 0)
        fail("pseudo-terminal");
    const char *name = ::ptsname(peer.busMaster);
    peer.busSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t;
    ::tcgetattr(peer.busSlave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(peer.busSlave, TCSANOW, &t);
    ::unlink(peer.busLink.c_str());
    if (::symlink(name, peer.busLink.c_str()) != 0)
        fail(peer.busLink.c_str());
}

volatile sig_atomic_t stopping = 0;
void onStop(int)
{
    stopping = 1;
}

} // namespace

int main(int argc, char *argv[])
{
    Peer peer;
    peer.address.sin_family = AF_INET;
    peer.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--listen") {
            const std::string text = value;
            const size_t colon = text.rfind(':');
            if (colon == std::string::npos ||
                ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &peer.address.sin_addr) != 1) {
                std::fprintf(stderr, "ordan-bridge-peer: --listen ADDRESS:PORT\n");
                return 2;
            }
            peer.address.sin_port = htons(uint16_t(std::atoi(text.c_str() + colon + 1)));
            ++i;
        } else if (option == "--echo") {
            peer.echo = true;
        } else if (option == "--bus") {
            peer.busLink = value;
            ++i;
        } else if (option == "--packet-timeout") {
            peer.packetTimeoutMs = std::atoi(value);
            ++i;
        } else {
            std::fprintf(stderr, "usage: ordan-bridge-peer [--listen ADDRESS:PORT] [--echo | "
                                 "--bus PATH [--packet-timeout MS]]\n");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);
    if (!peer.busLink.empty())
        makeBus(peer);
    if (!listenNow(peer))
        fail("listen");
    char text[64];
    ::inet_ntop(AF_INET, &peer.address.sin_addr, text, sizeof text);
    say(std::string("listening ") + text + ":" + std::to_string(ntohs(peer.address.sin_port)));

    std::string input;
    std::vector<char> buffer(1 << 16);
    while (!stopping) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        if (peer.listener >= 0)
            fds.push_back({peer.listener, POLLIN, 0});
        if (peer.busMaster >= 0)
            fds.push_back({peer.busMaster, POLLIN, 0});
        const size_t firstClient = fds.size();
        for (int fd : peer.clients)
            fds.push_back({fd, POLLIN, 0});

        int timeoutMs = -1;
        const auto now = Clock::now();
        if (peer.waitingToListen)
            timeoutMs = int(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(peer.upAt - now).count()));
        if (!peer.gathered.empty()) {
            const auto due = peer.lastBusByte + std::chrono::milliseconds(peer.packetTimeoutMs);
            const int busMs = int(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()));
            timeoutMs = timeoutMs < 0 ? busMs : std::min(timeoutMs, busMs);
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
            fail("poll");
        if (stopping)
            break;

        if (peer.waitingToListen && Clock::now() >= peer.upAt) {
            peer.waitingToListen = false;
            if (peer.listener < 0 && !listenNow(peer))
                fail("listen again");
            say("up");
        }
        if (!peer.gathered.empty() &&
            Clock::now() >= peer.lastBusByte + std::chrono::milliseconds(peer.packetTimeoutMs)) {
            for (int fd : peer.clients)
                writeAll(fd, peer.gathered.data(), peer.gathered.size());
            peer.gathered.clear();
        }
        for (size_t i = 0; i < firstClient; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            if (fds[i].fd == STDIN_FILENO) {
                const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
                if (n <= 0) {
                    stopping = 1;
                    break;
                }
                input.append(buffer.data(), size_t(n));
                size_t end;
                while ((end = input.find('\n')) != std::string::npos) {
                    const std::string line = input.substr(0, end);
                    input.erase(0, end + 1);
                    command(peer, line);
                }
            } else if (fds[i].fd == peer.listener) {
                const int fd = ::accept4(peer.listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    const int yes = 1;
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                    peer.clients.push_back(fd);
                    ++peer.accepted;
                }
            } else if (fds[i].fd == peer.busMaster) {
                const ssize_t n = ::read(peer.busMaster, buffer.data(), buffer.size());
                if (n > 0) {
                    peer.gathered.append(buffer.data(), size_t(n));
                    peer.lastBusByte = Clock::now();
                }
            }
        }
        // Clients last, from the end: a closed one leaves the list.
        for (size_t i = fds.size(); i-- > firstClient;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const size_t index = i - firstClient;
            if (index >= peer.clients.size() || peer.clients[index] != fds[i].fd)
                continue; // closed meanwhile by a command
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n <= 0) {
                closeClient(peer, index);
                continue;
            }
            peer.bytes += size_t(n);
            if (peer.expectAt > 0 && peer.bytes >= peer.expectAt) {
                peer.expectAt = 0;
                say("got " + std::to_string(peer.expected));
            }
            if (peer.busMaster >= 0) {
                writeAll(peer.busMaster, buffer.data(), size_t(n));
            } else if (peer.replySize > 0) {
                // The reply starts with the request's first 8 bytes (its tag).
                std::string reply(peer.replySize, 'r');
                reply.replace(0, std::min<size_t>({8, size_t(n), reply.size()}), buffer.data(),
                              std::min<size_t>({8, size_t(n), reply.size()}));
                writeAll(fds[i].fd, reply.data(), reply.size());
            } else if (peer.echo) {
                writeAll(fds[i].fd, buffer.data(), size_t(n));
            }
        }
    }
    if (!peer.busLink.empty())
        ::unlink(peer.busLink.c_str());
    return 0;
}
