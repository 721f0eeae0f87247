// ordan-stalled-host IP:PORT...: a host that takes no connection and says
// nothing, for the tests and the benchmark of `ordan-cli reach`. On each
// address it listens with a backlog of 0, fills that backlog with a
// connection of its own and never accepts: the system then drops every
// further SYN, so a client's connect gets no answer at all and runs into its
// time-out, as one to an address that nothing takes does. (A blackhole route
// is no such thing: connect() fails at once there.) Prints "ready" once every
// listener is full, then waits until it is ended (SIGTERM, SIGINT).
//
// Only for network namespaces of the tests' own: it binds the addresses
// given, which must be on this machine.

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

[[noreturn]] void fail(const std::string &target, const char *what)
{
    fprintf(stderr, "ordan-stalled-host: %s: %s: %s\n", target.c_str(), what, strerror(errno));
    exit(1);
}

bool parse(const std::string &target, sockaddr_in *address)
{
    const auto colon = target.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string ip = target.substr(0, colon);
    char *end = nullptr;
    const long port = strtol(target.c_str() + colon + 1, &end, 10);
    *address = {};
    address->sin_family = AF_INET;
    address->sin_port = htons(uint16_t(port));
    return *end == '\0' && port > 0 && port < 65536 &&
           inet_pton(AF_INET, ip.c_str(), &address->sin_addr) == 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage: ordan-stalled-host IP:PORT...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string target = argv[i];
        sockaddr_in address;
        if (!parse(target, &address)) {
            fprintf(stderr, "ordan-stalled-host: %s is not IP:PORT\n", target.c_str());
            return 2;
        }
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
            fail(target, "socket");
        if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            fail(target, "bind");
        if (listen(listener, 0) != 0)
            fail(target, "listen");
        // The one connection the backlog holds, never accepted.
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (filler < 0)
            fail(target, "socket");
        if (connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS)
            fail(target, "connect");
        pollfd p{filler, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        if (poll(&p, 1, 5000) != 1 ||
            getsockopt(filler, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            errno = error ? error : ETIMEDOUT;
            fail(target, "filling the backlog");
        }
        // Both kept open until the end.
    }
    // The test waits on it: without it, no use going on.
    if (printf("ready\n") < 0 || fflush(stdout) != 0)
        fail("stdout", "ready");
    for (;;)
        pause();
}
