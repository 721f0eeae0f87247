#ifndef CLI_GATEWAYOPTIONS_H
#define CLI_GATEWAYOPTIONS_H

#include "engine/gateway/clientaccess.h"
#include "engine/gateway/gateway.h"
#include "engine/gateway/gatewaysite.h"
#include "engine/link/hostport.h"

#include <QString>

struct Run;

// What the command line says the gateway is: its options, and where its
// site comes from.
struct GatewayOptions {
    Gateway::Settings settings;
    gatewaysite::Options site;
    QString plan;    // --plan; empty for HOST:PORT
    HostPort target; // HOST:PORT
    LineFormat line; // HOST:PORT: its bus's format
    ClientAccess access;
};

// Where it listens and what it serves (--listen, --listen-base, --plan,
// --unit-map, --framing), its numbers (--max-clients, --answer-timeout,
// ...), and who may ask (--allow, TLS, --name); false with the problem.
bool gatewayOptions(Run &run, GatewayOptions *o, QString *problem);
// The line of HOST:PORT: --from (already in o->site.base), then --speed,
// --parity, --stop-bits and --packet-timeout over it. A plan has them in
// its columns.
bool gatewayLineOptions(Run &run, GatewayOptions *o, QString *problem);

#endif // CLI_GATEWAYOPTIONS_H
