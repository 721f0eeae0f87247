// ordan-bridge-opens PORT [--count N] [--pause-us US] [--format 8E1]
//                         [--speed BAUD] [--exchange [--reply N]]
// Programs opening a bridge's port one after the other, each a new process,
// for the bridge's test and scripts/bench-bridge.sh. Each one opens PORT,
// sets it as libmodbus does (a termios from zero: raw, the speed, 8 data
// bits, the parity and stop bits of --format, INPCK with parity) through
// glibc's tcsetattr, which checks what the port took; with --exchange it
// then writes a Modbus request (10 holding registers of unit 1) and waits up
// to 0.5 s for the N bytes of its reply (25, the registers; 8 from an echo),
// three times at most, as a master tries again; it closes the port without
// putting its old settings back, and the next starts --pause-us after it
// ended (0: at once). Prints one "name=value" a line:
//   opens           programs run (--count, 200 by default)
//   failed_settings settings refused (tcsetattr failed)
//   retried         with --exchange: programs that asked more than once
//   no_reply        ... and those that never had their reply
//   first_error     the first failure, or "none"
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

// A read request for 10 holding registers of unit 1.
const unsigned char request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0a, 0xc5, 0xcd};

// The whole number `text`; -1 for anything else.
long number(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    return *text && !*end && errno == 0 && value >= 0 && value <= INT_MAX ? value : -1;
}

speed_t speedOf(long baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

// One program: 0 when it did all it was to, 1 for a refused setting, 3 for
// a missing reply, 5 for a reply on the second or third request, 4 when the
// port did not open.
int once(const char *port, speed_t speed, const char *format, int replySize)
{
    const int fd = ::open(port, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "open %s: %s\n", port, std::strerror(errno));
        return 4;
    }
    termios t{};
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag |= CREAD | CLOCAL | CS8;
    if (format[1] != 'N')
        t.c_cflag |= PARENB | (format[1] == 'O' ? PARODD : 0);
    if (format[2] == '2')
        t.c_cflag |= CSTOPB;
    t.c_iflag = format[1] != 'N' ? INPCK : 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        std::fprintf(stderr, "tcsetattr %s: %s\n", format, std::strerror(errno));
        ::close(fd);
        return 1;
    }
    int result = 0;
    for (int attempt = 0; replySize > 0 && attempt < 3; ++attempt) {
        int got = 0;
        if (::write(fd, request, sizeof request) != ssize_t(sizeof request))
            got = -1;
        char buffer[256];
        while (got >= 0 && got < replySize) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 500) <= 0)
                break;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got += int(n);
        }
        result = got == replySize ? (attempt == 0 ? 0 : 5) : 3;
        if (got != replySize)
            std::fprintf(stderr, "no reply: %d bytes\n", got);
        if (got >= replySize)
            break;
    }
    ::close(fd);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ordan-bridge-opens PORT [--count N] [--pause-us US] "
                             "[--format 8E1] [--speed BAUD] [--exchange]\n");
        return 2;
    }
    long count = 200, pauseUs = 0, baud = 19200, replySize = 25;
    const char *format = "8E1";
    bool exchange = false, single = false;
    for (int i = 2; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (std::strcmp(argv[i], "--exchange") == 0)
            exchange = true;
        else if (std::strcmp(argv[i], "--once") == 0)
            single = true;
        else if (valued && std::strcmp(argv[i], "--count") == 0)
            count = number(argv[++i]);
        else if (valued && std::strcmp(argv[i], "--pause-us") == 0)
            pauseUs = number(argv[++i]);
        else if (valued && std::strcmp(argv[i], "--speed") == 0)
            baud = number(argv[++i]);
        else if (valued && std::strcmp(argv[i], "--reply") == 0)
            replySize = number(argv[++i]);
        else if (valued && std::strcmp(argv[i], "--format") == 0)
            format = argv[++i];
        else
            count = -1;
    }
    const bool formatOk = std::strlen(format) == 3 && format[0] == '8' &&
                          std::strchr("NEO", format[1]) && std::strchr("12", format[2]);
    if (count < 1 || pauseUs < 0 || replySize < 1 || replySize > 256 || speedOf(baud) == B0 ||
        !formatOk) {
        std::fprintf(stderr,
                     "ordan-bridge-opens: --count above 0, --pause-us a whole number, "
                     "--speed 9600, 19200, 38400 or 115200, --format such as 8E1, --reply 1-256\n");
        return 2;
    }
    if (single)
        return once(argv[1], speedOf(baud), format, exchange ? int(replySize) : 0);

    // Each program a new process: this one again, with --once.
    long failedSettings = 0, noReply = 0, retried = 0;
    std::string firstError = "none";
    std::string speedText = std::to_string(baud), replyText = std::to_string(replySize);
    for (long i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            char *const args[] = {argv[0],
                                  argv[1],
                                  const_cast<char *>("--once"),
                                  const_cast<char *>("--speed"),
                                  speedText.data(),
                                  const_cast<char *>("--format"),
                                  const_cast<char *>(format),
                                  const_cast<char *>("--reply"),
                                  replyText.data(),
                                  exchange ? const_cast<char *>("--exchange") : nullptr,
                                  nullptr};
            ::execv("/proc/self/exe", args);
            ::_exit(127);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) == 127 || WEXITSTATUS(status) == 4) {
            std::fprintf(stderr, "ordan-bridge-opens: program %ld did not run\n", i);
            return 1;
        }
        const int code = WEXITSTATUS(status);
        failedSettings += code == 1;
        noReply += code == 3;
        retried += code == 5 || code == 3;
        if ((code == 1 || code == 3) && firstError == "none")
            firstError =
                "program " + std::to_string(i) + (code == 1 ? ": setting refused" : ": no reply");
        if (pauseUs > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    }
    std::printf("opens=%ld\nfailed_settings=%ld\nretried=%ld\nno_reply=%ld\nfirst_error=%s\n",
                count, failedSettings, retried, noReply, firstError.c_str());
    return 0;
}
