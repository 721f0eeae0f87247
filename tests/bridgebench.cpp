// ordan-bridge-bench: times a serial-to-TCP bridge (ordan-cli bridge, or
// socat) between a program on its port (this one) and ordan-bridge-peer,
// which answers without any pacing. For scripts/bench-bridge.sh.
//   ordan-bridge-bench --peer PATH --listen ADDRESS:PORT --link LINK
//                      [--restart-delay MS] [--exchanges N] [--transfers N]
//                      -- BRIDGE COMMAND...
// Starts the peer, then the bridge command, opens LINK (115200 8N1, raw)
// and prints, one "name=value" a line:
//   rtt_median_ms, rtt_p99_ms  request of 8 bytes (a whole Modbus RTU
//                              request), reply of 64, N exchanges
//   up_mib_s                   1 MiB written to the port until the peer has it
//   down_mib_s                 1 MiB sent by the peer until the port has it
//                              (each the median of N transfers, 9 by default)
//   back_ms                    the peer restarted (down for the restart
//                              delay): from its going down until a request
//                              sent afterwards is answered; "never (...)"
//                              when that did not happen within 10 s more
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The children started so far: a failure ends them too, so that nothing is
// left running.
std::vector<pid_t> children;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "ordan-bridge-bench: %s\n", what.c_str());
    for (const pid_t pid : children) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    std::exit(1);
}

// The whole number `text`, at least `min`, or the usage fails.
int number(const std::string &option, const std::string &text, int min)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < min || value > INT_MAX)
        fail(option + " " + text + ": not a whole number of at least " + std::to_string(min));
    return int(value);
}

struct Child {
    pid_t pid = -1;
    int in = -1;  // its stdin
    int out = -1; // its stdout
    std::string pending;
};

Child spawn(const std::vector<std::string> &command, bool pipes)
{
    int toChild[2], fromChild[2];
    if (pipes && (::pipe(toChild) != 0 || ::pipe(fromChild) != 0))
        fail("pipe");
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        // A child without its standard streams does not run.
        if (pipes) {
            if (::dup2(toChild[0], STDIN_FILENO) < 0 || ::dup2(fromChild[1], STDOUT_FILENO) < 0)
                ::_exit(127);
            ::close(toChild[1]);
            ::close(fromChild[0]);
        } else {
            const int null = ::open("/dev/null", O_RDWR);
            if (::dup2(null, STDIN_FILENO) < 0 || ::dup2(null, STDOUT_FILENO) < 0 ||
                ::dup2(null, STDERR_FILENO) < 0)
                ::_exit(127);
        }
        std::vector<char *> argv;
        argv.reserve(command.size() + 1);
        for (const std::string &word : command)
            argv.push_back(const_cast<char *>(word.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (child.pid > 0)
        children.push_back(child.pid);
    if (pipes) {
        ::close(toChild[0]);
        ::close(fromChild[1]);
        child.in = toChild[1];
        child.out = fromChild[0];
    }
    return child;
}

// The peer's next line, or "" after `timeoutMs`.
std::string line(Child &child, int timeoutMs = 10000)
{
    const auto start = Clock::now();
    for (;;) {
        const size_t end = child.pending.find('\n');
        if (end != std::string::npos) {
            std::string text = child.pending.substr(0, end);
            child.pending.erase(0, end + 1);
            return text;
        }
        const int left = timeoutMs - int(msSince(start));
        pollfd p{child.out, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            return std::string();
        char buffer[4096];
        const ssize_t n = ::read(child.out, buffer, sizeof buffer);
        if (n <= 0)
            return std::string();
        child.pending.append(buffer, size_t(n));
    }
}

void tell(Child &child, const std::string &command)
{
    const std::string text = command + "\n";
    if (::write(child.in, text.data(), text.size()) != ssize_t(text.size()))
        fail("cannot command the peer");
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Reads until `size` bytes have come or `timeoutMs` passed without any;
// -1 when the port failed (the bridge went away).
long readSome(int fd, std::string *into, size_t size, int timeoutMs)
{
    char buffer[65536];
    while (into->size() < size) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready == 0)
            break;
        if (ready < 0 && errno == EINTR)
            continue;
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, size - into->size()));
        if (n <= 0)
            return -1;
        into->append(buffer, size_t(n));
    }
    return long(into->size());
}

// Modbus's CRC-16 (polynomial 0xA001), low byte first on the line.
unsigned crc16(const std::string &bytes)
{
    unsigned crc = 0xffff;
    for (const unsigned char c : bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xa001 : crc >> 1;
    }
    return crc;
}

// The request of an exchange: a whole Modbus RTU request (read 10 holding
// registers of unit 1 from an address that counts the exchanges), as a
// master writes it, in one write.
std::string tagOf(unsigned long long sequence)
{
    std::string frame{'\x01', '\x03', char((sequence >> 8) & 0xff), char(sequence & 0xff),
                      '\x00', '\x0a'};
    const unsigned crc = crc16(frame);
    frame += char(crc & 0xff);
    frame += char(crc >> 8);
    return frame;
}

} // namespace

int main(int argc, char *argv[])
{
    std::string peerPath, listen, link;
    int restartDelayMs = 500, exchanges = 1000, transfers = 9;
    std::vector<std::string> bridgeCommand;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            bridgeCommand.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 >= argc)
            fail("usage: see the head of tests/bridgebench.cpp");
        const std::string value = argv[++i];
        if (option == "--peer")
            peerPath = value;
        else if (option == "--listen")
            listen = value;
        else if (option == "--link")
            link = value;
        else if (option == "--restart-delay")
            restartDelayMs = number(option, value, 0);
        else if (option == "--exchanges")
            exchanges = number(option, value, 1);
        else if (option == "--transfers")
            transfers = number(option, value, 1);
        else
            fail("unknown option " + option);
    }
    if (peerPath.empty() || listen.empty() || link.empty() || bridgeCommand.empty())
        fail("usage: see the head of tests/bridgebench.cpp");
    std::signal(SIGPIPE, SIG_IGN);

    Child peer = spawn({peerPath, "--listen", listen}, true);
    if (line(peer).rfind("listening ", 0) != 0)
        fail("the peer did not start");
    Child bridge = spawn(bridgeCommand, false);

    // The port, once the bridge has made it, set as a program sets it.
    int port = -1;
    for (int i = 0; i < 1000 && port < 0; ++i) {
        struct stat st;
        if (::lstat(link.c_str(), &st) == 0)
            port = ::open(link.c_str(), O_RDWR | O_NOCTTY);
        if (port < 0)
            ::usleep(10000);
    }
    if (port < 0)
        fail("no port at " + link);
    termios t;
    if (::tcgetattr(port, &t) != 0)
        fail("cannot set the port: " + std::string(std::strerror(errno)));
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(port, TCSANOW, &t) != 0)
        fail("cannot set the port: " + std::string(std::strerror(errno)));

    tell(peer, "reply 64");
    line(peer);
    unsigned long long sequence = 0;
    // One exchange: the reply to this request, or false after `timeoutMs`.
    const auto exchange = [&](int timeoutMs) {
        const std::string tag = tagOf(++sequence);
        if (!writeAll(port, tag.data(), tag.size()))
            return false;
        std::string reply;
        const auto start = Clock::now();
        while (msSince(start) < timeoutMs) {
            if (readSome(port, &reply, 64, timeoutMs) < 0)
                return false;
            if (reply.size() >= 64) {
                if (reply.compare(0, 8, tag) == 0)
                    return true;
                reply.clear(); // a late reply to an earlier request
            }
        }
        return false;
    };
    // Connected: a reply comes.
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i)
        ready = exchange(100);
    if (!ready)
        fail("no reply through the bridge");

    std::vector<double> rtt;
    for (int i = 0; i < exchanges; ++i) {
        const auto start = Clock::now();
        if (!exchange(2000))
            fail("an exchange got no reply");
        rtt.push_back(msSince(start));
    }
    std::sort(rtt.begin(), rtt.end());
    std::printf("rtt_median_ms=%.3f\n", rtt[rtt.size() / 2]);
    std::printf("rtt_p99_ms=%.3f\n", rtt[(rtt.size() * 99 + 99) / 100 - 1]);

    // Each way, the median of several transfers: a single one takes a few
    // milliseconds, which the machine's other work decides.
    const size_t mib = 1 << 20;
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    tell(peer, "sink");
    line(peer);
    const std::string block(4096, 'u');
    std::vector<double> up, down;
    for (int i = 0; i < transfers; ++i) {
        tell(peer, "expect " + std::to_string(mib));
        const auto start = Clock::now();
        for (size_t sent = 0; sent < mib; sent += block.size())
            writeAll(port, block.data(), block.size());
        if (line(peer, 20000).rfind("got ", 0) != 0)
            fail("the peer did not get 1 MiB");
        up.push_back(1000.0 / msSince(start));
    }
    std::printf("up_mib_s=%.1f\n", median(up));

    for (int i = 0; i < transfers; ++i) {
        const auto start = Clock::now();
        tell(peer, "send " + std::to_string(mib));
        std::string received;
        readSome(port, &received, mib, 5000);
        const double ms = msSince(start);
        line(peer); // "sent"
        if (received.size() != mib)
            fail("the port got " + std::to_string(received.size()) + " of 1 MiB");
        down.push_back(1000.0 / ms);
    }
    std::printf("down_mib_s=%.1f\n", median(down));

    // The peer restarts while requests go on every 10 ms.
    tell(peer, "echo");
    line(peer);
    tell(peer, "reply 64");
    line(peer);
    const auto start = Clock::now();
    tell(peer, "restart " + std::to_string(restartDelayMs));
    line(peer); // "down"
    std::string back;
    while (back.empty() && msSince(start) < restartDelayMs + 10000) {
        int status;
        if (::waitpid(bridge.pid, &status, WNOHANG) == bridge.pid) {
            back = "never (the bridge exited, status " +
                   std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                   ": it must be started again by hand)";
            bridge.pid = -1;
            break;
        }
        if (exchange(10)) {
            char ms[32];
            std::snprintf(ms, sizeof ms, "%.0f", msSince(start));
            back = ms;
        } else {
            ::usleep(1000);
        }
    }
    std::printf("back_ms=%s\n", back.empty() ? "never (no reply within 10 s)" : back.c_str());

    ::close(port);
    if (bridge.pid > 0) {
        ::kill(bridge.pid, SIGTERM);
        ::waitpid(bridge.pid, nullptr, 0);
    }
    ::close(peer.in);
    ::waitpid(peer.pid, nullptr, 0);
    return 0;
}
