// ordan-bridge-master PORT [--polls N] [--speed BAUD] [--parity N|E|O]: a
// Modbus RTU master on libmodbus, as SCADA drivers are, for
// scripts/bench-bridge.sh. Opens PORT (19200 8E1 by default), then reads
// the 10 holding registers of unit 1 N times (200 by default), one poll
// after the other, each answered or timed out (0.5 s), and prints one
// "name=value" a line:
//   poll_median_ms, poll_p99_ms   the time of a poll, request to answer
//   poll_failed                   polls without a right answer (the slave
//                                 holds 1000 + the register's index)
#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

// The whole number `text`; -1 for anything else.
int number(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    return *text && !*end && errno == 0 && value >= 0 && value <= INT_MAX ? int(value) : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ordan-bridge-master PORT [--polls N] [--speed BAUD] "
                             "[--parity N|E|O]\n");
        return 2;
    }
    int polls = 200;
    int speed = 19200;
    char parity = 'E';
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--polls") == 0)
            polls = number(argv[i + 1]);
        else if (std::strcmp(argv[i], "--speed") == 0)
            speed = number(argv[i + 1]);
        else if (std::strcmp(argv[i], "--parity") == 0)
            parity = argv[i + 1][0];
    }
    if (polls < 1 || speed < 1) {
        std::fprintf(stderr, "ordan-bridge-master: --polls and --speed take a whole number "
                             "above 0\n");
        return 2;
    }
    modbus_t *context = modbus_new_rtu(argv[1], speed, parity, 8, 1);
    if (!context || modbus_set_slave(context, 1) != 0 || modbus_connect(context) != 0) {
        std::fprintf(stderr, "ordan-bridge-master: %s: %s\n", argv[1], modbus_strerror(errno));
        return 3;
    }
    modbus_set_response_timeout(context, 0, 500000);

    using Clock = std::chrono::steady_clock;
    std::vector<double> ms;
    int failed = 0;
    for (int i = 0; i < polls; ++i) {
        uint16_t registers[10] = {};
        const auto start = Clock::now();
        const int n = modbus_read_registers(context, 0, 10, registers);
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        bool right = n == 10;
        for (int r = 0; right && r < 10; ++r)
            right = registers[r] == 1000 + r;
        if (right) {
            ms.push_back(took);
        } else {
            ++failed;
            modbus_flush(context);
        }
    }
    modbus_close(context);
    modbus_free(context);
    if (ms.empty()) {
        std::printf("poll_median_ms=none\npoll_p99_ms=none\npoll_failed=%d\n", failed);
        return 4;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("poll_median_ms=%.3f\n", ms[ms.size() / 2]);
    std::printf("poll_p99_ms=%.3f\n", ms[(ms.size() * 99 + 99) / 100 - 1]);
    std::printf("poll_failed=%d\n", failed);
    return 0;
}
