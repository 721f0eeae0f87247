// ordan-gateway-clients HOST PORT [--clients N] [--requests N | --seconds S]
//     [--units LIST] [--count C] [--timeout-ms T] [--functions UNIT] [--rtu]
// Modbus TCP clients on Debian's libmodbus, as SCADA drivers and
// historians are, for the gateway's tests and benchmark: N clients (8 by
// default), each on its own connection and thread, all at once. Each reads
// C holding registers (10 by default) of the units of LIST in turn (1 by
// default), at addresses that move with every request, and checks every
// value: a device holds unit x 1000 + register, so a reply meant for
// another request (another unit, another address) is caught as crossed.
// Each client sends N requests (--requests, 100 by default), or as many as
// it can in S seconds (--seconds). A client never connects again: a
// connection that breaks is counted as broken and ends that client.
//
// Prints one "name=value" a line: for each client K "client_K=REQUESTS",
// then requests, ok, crossed, broken, timeouts (no answer within T ms,
// 2000 by default), exception_N (each exception code answered), other
// (any other failure), seconds, rate (answers a second), median_ms,
// p99_ms, max_ms (of the answered requests).
//
// --rtu speaks RTU over TCP instead (each request an RTU frame with its
// CRC, as to a transparent module directly; one client only, the module
// holding one connection): the benchmark's measure of what the gateway
// adds.
//
// --functions UNIT instead asks UNIT once each: report server id (17) and
// write-and-read registers (23: writes 4321 to register 7 and reads
// registers 5-9), printing "function_17=HEX" and "function_23=v5,v6,...".
#include <modbus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

struct Options {
    const char *host = nullptr;
    int port = 0;
    int clients = 8;
    int requests = 100;
    double seconds = 0;
    std::vector<int> units{1};
    int count = 10;
    int timeoutMs = 2000;
    int functionsUnit = 0;
    bool rtu = false;
};

struct Tally {
    long requests = 0, ok = 0, crossed = 0, broken = 0, timeouts = 0, other = 0;
    std::map<int, long> exceptions;
    std::vector<double> latencies; // ms, of the answered requests
};

// The whole number `text`; -1 for anything else.
int number(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    return *text && !*end && errno == 0 && value >= 0 && value <= INT_MAX ? int(value) : -1;
}

bool parseUnits(const char *text, std::vector<int> *units)
{
    units->clear();
    std::string all(text);
    size_t at = 0;
    while (at <= all.size()) {
        const size_t comma = all.find(',', at);
        const std::string part =
            all.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const int unit = number(part.c_str());
        if (unit < 0 || unit > 255)
            return false;
        units->push_back(unit);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return !units->empty();
}

modbus_t *connectTo(const Options &o)
{
    modbus_t *context = modbus_new_tcp(o.host, o.port);
    if (!context)
        return nullptr;
    modbus_set_response_timeout(context, uint32_t(o.timeoutMs / 1000),
                                uint32_t(o.timeoutMs % 1000) * 1000);
    if (modbus_connect(context) != 0) {
        modbus_free(context);
        return nullptr;
    }
    return context;
}

uint16_t crc16(const uint8_t *data, size_t size)
{
    uint16_t crc = 0xffff;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xa001) : uint16_t(crc >> 1);
    }
    return crc;
}

// A read of `count` registers as an RTU frame over TCP; the values, or -1
// (nothing whole in time, or a wrong CRC), or an exception code.
int readRtu(int fd, int unit, int address, int count, int timeoutMs, uint16_t *values)
{
    uint8_t frame[8] = {uint8_t(unit),         3,
                        uint8_t(address >> 8), uint8_t(address),
                        uint8_t(count >> 8),   uint8_t(count)};
    const uint16_t crc = crc16(frame, 6);
    frame[6] = uint8_t(crc & 0xff);
    frame[7] = uint8_t(crc >> 8);
    if (::write(fd, frame, sizeof frame) != ssize_t(sizeof frame))
        return -2;
    uint8_t reply[256];
    size_t have = 0;
    const size_t whole = 5 + 2 * size_t(count);
    while (have < whole && !(have >= 5 && (reply[1] & 0x80))) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return -1;
        const ssize_t n = ::read(fd, reply + have, sizeof reply - have);
        if (n <= 0)
            return -2;
        have += size_t(n);
    }
    const size_t length = (reply[1] & 0x80) ? 5 : whole;
    if (crc16(reply, length - 2) != uint16_t(reply[length - 2] | reply[length - 1] << 8))
        return -1;
    if (reply[1] & 0x80)
        return reply[2];
    for (int r = 0; r < count; ++r)
        values[r] = uint16_t(reply[3 + 2 * r] << 8 | reply[4 + 2 * r]);
    return 0;
}

void runRtuClient(const Options &o, Tally *tally)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(o.port));
    const int one = 1;
    if (fd < 0 || ::inet_pton(AF_INET, o.host, &to.sin_addr) != 1 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ++tally->broken;
        if (fd >= 0)
            ::close(fd);
        return;
    }
    const auto start = Clock::now();
    std::vector<uint16_t> values(size_t(o.count));
    const int span = std::max(1, 100 - o.count);
    for (long i = 0;; ++i) {
        if (o.seconds > 0 ? std::chrono::duration<double>(Clock::now() - start).count() >= o.seconds
                          : i >= o.requests)
            break;
        const int unit = o.units[size_t(i % long(o.units.size()))];
        const int address = int((i * 7) % span);
        ++tally->requests;
        const auto sent = Clock::now();
        const int result = readRtu(fd, unit, address, o.count, o.timeoutMs, values.data());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (result == 0) {
            bool right = true;
            for (int r = 0; r < o.count; ++r)
                right = right && values[size_t(r)] == uint16_t(unit * 1000 + address + r);
            ++(right ? tally->ok : tally->crossed);
            if (right)
                tally->latencies.push_back(ms);
        } else if (result > 0) {
            ++tally->exceptions[result];
        } else if (result == -1) {
            ++tally->timeouts;
        } else {
            ++tally->broken;
            break;
        }
    }
    ::close(fd);
}

void runClient(const Options &o, int index, Tally *tally)
{
    if (o.rtu) {
        runRtuClient(o, tally);
        return;
    }
    modbus_t *context = connectTo(o);
    if (!context) {
        ++tally->broken;
        return;
    }
    const auto start = Clock::now();
    std::vector<uint16_t> values(size_t(o.count));
    const int span = std::max(1, 100 - o.count);
    for (long i = 0;; ++i) {
        if (o.seconds > 0) {
            if (std::chrono::duration<double>(Clock::now() - start).count() >= o.seconds)
                break;
        } else if (i >= o.requests) {
            break;
        }
        const int unit = o.units[size_t((i + index) % long(o.units.size()))];
        const int address = int((i * 7 + long(index) * 13) % span);
        modbus_set_slave(context, unit);
        ++tally->requests;
        const auto sent = Clock::now();
        const int n = modbus_read_registers(context, address, o.count, values.data());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (n == o.count) {
            bool right = true;
            for (int r = 0; r < o.count; ++r)
                right = right && values[size_t(r)] == uint16_t(unit * 1000 + address + r);
            if (right) {
                ++tally->ok;
                tally->latencies.push_back(ms);
            } else {
                ++tally->crossed;
            }
            continue;
        }
        const int error = errno;
        if (error > MODBUS_ENOBASE && error <= EMBXGTAR) {
            ++tally->exceptions[error - MODBUS_ENOBASE];
        } else if (error == ETIMEDOUT) {
            ++tally->timeouts;
        } else if (error == ECONNRESET || error == EPIPE || error == ENOTCONN ||
                   error == ECONNREFUSED) {
            ++tally->broken;
            break;
        } else {
            ++tally->other;
        }
    }
    modbus_close(context);
    modbus_free(context);
}

int askFunctions(const Options &o)
{
    modbus_t *context = connectTo(o);
    if (!context) {
        std::fprintf(stderr, "ordan-gateway-clients: %s\n", modbus_strerror(errno));
        return 3;
    }
    modbus_set_slave(context, o.functionsUnit);
    uint8_t id[MODBUS_MAX_PDU_LENGTH];
    const int n = modbus_report_slave_id(context, int(sizeof id), id);
    std::printf("function_17=");
    for (int i = 0; i < n; ++i)
        std::printf("%02x", id[i]);
    std::printf("%s\n", n < 0 ? modbus_strerror(errno) : "");
    const uint16_t written = 4321;
    uint16_t read[5] = {};
    const int m = modbus_write_and_read_registers(context, 7, 1, &written, 5, 5, read);
    std::printf("function_23=");
    for (int i = 0; i < m; ++i)
        std::printf(i ? ",%u" : "%u", unsigned(read[i]));
    std::printf("%s\n", m < 0 ? modbus_strerror(errno) : "");
    modbus_close(context);
    modbus_free(context);
    return n > 0 && m == 5 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    Options o;
    if (argc < 3) {
        std::fprintf(stderr, "usage: ordan-gateway-clients HOST PORT [--clients N] [--requests N "
                             "| --seconds S] [--units LIST] [--count C] [--timeout-ms T] "
                             "[--functions UNIT] [--rtu]\n");
        return 2;
    }
    o.host = argv[1];
    o.port = number(argv[2]);
    bool good = o.port > 0;
    for (int i = 3; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--rtu") {
            o.rtu = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) {
            good = false;
            break;
        }
        const char *value = argv[i + 1];
        if (name == "--clients")
            good = good && (o.clients = number(value)) > 0;
        else if (name == "--requests")
            good = good && (o.requests = number(value)) >= 0;
        else if (name == "--seconds")
            good = good && (o.seconds = std::strtod(value, nullptr)) > 0;
        else if (name == "--units")
            good = good && parseUnits(value, &o.units);
        else if (name == "--count")
            good = good && (o.count = number(value)) > 0 && o.count <= 100;
        else if (name == "--timeout-ms")
            good = good && (o.timeoutMs = number(value)) > 0;
        else if (name == "--functions")
            good = good && (o.functionsUnit = number(value)) > 0;
        else
            good = false;
    }
    if (!good) {
        std::fprintf(stderr, "ordan-gateway-clients: bad arguments\n");
        return 2;
    }
    if (o.functionsUnit > 0)
        return askFunctions(o);
    if (o.rtu)
        o.clients = 1;

    std::vector<Tally> tallies(size_t(o.clients));
    std::vector<std::thread> threads;
    threads.reserve(size_t(o.clients));
    const auto start = Clock::now();
    for (int k = 0; k < o.clients; ++k)
        threads.emplace_back(runClient, std::cref(o), k, &tallies[size_t(k)]);
    for (std::thread &t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    Tally all;
    for (size_t k = 0; k < tallies.size(); ++k) {
        const Tally &t = tallies[k];
        std::printf("client_%zu=%ld\n", k, t.requests);
        all.requests += t.requests;
        all.ok += t.ok;
        all.crossed += t.crossed;
        all.broken += t.broken;
        all.timeouts += t.timeouts;
        all.other += t.other;
        for (const auto &e : t.exceptions)
            all.exceptions[e.first] += e.second;
        all.latencies.insert(all.latencies.end(), t.latencies.begin(), t.latencies.end());
    }
    std::sort(all.latencies.begin(), all.latencies.end());
    const auto at = [&all](double share) {
        if (all.latencies.empty())
            return 0.0;
        const size_t i = std::min(all.latencies.size() - 1,
                                  size_t(std::lround(share * double(all.latencies.size() - 1))));
        return all.latencies[i];
    };
    std::printf("requests=%ld\nok=%ld\ncrossed=%ld\nbroken=%ld\ntimeouts=%ld\nother=%ld\n",
                all.requests, all.ok, all.crossed, all.broken, all.timeouts, all.other);
    for (const auto &e : all.exceptions)
        std::printf("exception_%d=%ld\n", e.first, e.second);
    std::printf("seconds=%.3f\nrate=%.2f\nmedian_ms=%.3f\np99_ms=%.3f\nmax_ms=%.3f\n", seconds,
                double(all.ok) / seconds, at(0.5), at(0.99), at(1.0));
    return 0;
}
