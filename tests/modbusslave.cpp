// ordan-modbus-slave PATH [--speed BAUD] [--parity N|E|O] [--unit N]
//                     [--stamp on]: a Modbus RTU slave (address 1 unless
// --unit) on libmodbus, on the serial port PATH, for the bridge and bus
// tests. Its 100 holding registers hold 1000 + their index (register 1 is
// 1000). It prints "ready" once the port is open, "request HEX" for every
// request it takes whole (its CRC right; with --stamp, followed by " at S",
// when it had it, in seconds of CLOCK_MONOTONIC) and "error" for every frame
// it cannot take; SIGTERM or SIGINT end it, and so does the port going away
// (the pseudo-terminal's other side closed: exit 0, said on stderr).
#include <modbus.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <time.h>
#include <unistd.h>

namespace
{

// libmodbus waits again after a signal: the program ends in the handler
// (every line it printed is flushed already).
void onStop(int)
{
    ::_exit(0);
}

// Each line goes out at once: the test waits on it. With the test gone, the
// slave has no one to serve.
void flush()
{
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "ordan-modbus-slave: stdout: %s\n", std::strerror(errno));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ordan-modbus-slave PATH [--speed BAUD] [--parity N|E|O] "
                             "[--unit N] [--stamp on]\n");
        return 2;
    }
    int speed = 19200;
    char parity = 'E';
    int unit = 1;
    bool stamp = false;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--speed") == 0) {
            char *end = nullptr;
            const long value = std::strtol(argv[i + 1], &end, 10);
            speed = *end == '\0' && value > 0 && value <= 4000000 ? int(value) : 0;
        } else if (std::strcmp(argv[i], "--parity") == 0) {
            parity = argv[i + 1][0];
        } else if (std::strcmp(argv[i], "--unit") == 0) {
            char *end = nullptr;
            const long value = std::strtol(argv[i + 1], &end, 10);
            unit = *end == '\0' && value >= 1 && value <= 247 ? int(value) : 0;
        } else if (std::strcmp(argv[i], "--stamp") == 0) {
            stamp = std::strcmp(argv[i + 1], "on") == 0;
        }
    }
    if (speed == 0 || unit == 0) {
        std::fprintf(stderr, "ordan-modbus-slave: --speed takes a speed in bits per second, "
                             "--unit an address 1-247\n");
        return 2;
    }
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);

    modbus_t *context = modbus_new_rtu(argv[1], speed, parity, 8, 1);
    if (!context || modbus_set_slave(context, unit) != 0 || modbus_connect(context) != 0) {
        std::fprintf(stderr, "ordan-modbus-slave: %s: %s\n", argv[1], modbus_strerror(errno));
        return 3;
    }
    modbus_mapping_t *registers = modbus_mapping_new(0, 0, 100, 0);
    for (int i = 0; i < 100; ++i)
        registers->tab_registers[i] = uint16_t(1000 + i);
    std::printf("ready\n");
    flush();

    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        const int n = modbus_receive(context, request);
        if (n > 0) {
            std::string hex;
            char two[3];
            for (int i = 0; i < n; ++i) {
                std::snprintf(two, sizeof two, "%02x", request[i]);
                hex += two;
            }
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            if (stamp)
                std::printf("request %s at %lld.%09ld\n", hex.c_str(),
                            static_cast<long long>(now.tv_sec), now.tv_nsec);
            else
                std::printf("request %s\n", hex.c_str());
            flush();
            modbus_reply(context, request, n, registers);
        } else if (n < 0) {
            // A hang-up: nothing will come any more, and every read fails at
            // once from now on.
            const int error = errno;
            pollfd port{modbus_get_socket(context), POLLIN, 0};
            if (::poll(&port, 1, 0) < 0 || (port.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                std::fprintf(stderr, "ordan-modbus-slave: %s went away\n", argv[1]);
                // Freed, so that a leak check at exit finds nothing.
                modbus_mapping_free(registers);
                modbus_close(context);
                modbus_free(context);
                return 0;
            }
            std::printf("error %s\n", modbus_strerror(error));
            flush();
            modbus_flush(context);
        }
    }
}
