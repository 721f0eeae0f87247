#ifndef CLI_BUS_H
#define CLI_BUS_H

struct Run;

// ordan-cli bus HOST:PORT: finds the Modbus devices on the bus behind a
// module (and with --find-settings --console PORT, the bus's speed and
// parity). Returns the exit code.
int commandBus(Run &run);

#endif // CLI_BUS_H
