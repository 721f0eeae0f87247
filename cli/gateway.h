#ifndef CLI_GATEWAY_H
#define CLI_GATEWAY_H

struct Run;

// ordan-cli gateway [HOST:PORT | --plan PLAN.csv] --listen [ADDR:]PORT: a
// Modbus TCP server in front of a module's bus, or of a whole site's.
// Returns the exit code.
int commandGateway(Run &run);
// ordan-cli gateway status [NAME]: the counters of a running gateway,
// asked on its control socket.
int commandGatewayStatus(Run &run);

#endif // CLI_GATEWAY_H
