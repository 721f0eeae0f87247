#ifndef BUSOPTIONS_H
#define BUSOPTIONS_H

#include <QString>

#include <memory>

class BusDevices;
class QCommandLineParser;

// The simulator's options for the devices on the module's bus (--devices,
// --device-delay, --bus-noise, --seed, --crc-errors, --other-master).
namespace busoptions
{

void add(QCommandLineParser *parser);
// Whether any of them is given.
bool anyGiven(const QCommandLineParser &parser);
// The devices they describe; nullptr with the reason in *error when one is
// wrong (or when --bus is given too: one bus at a time).
std::unique_ptr<BusDevices> devices(const QCommandLineParser &parser, QString *error);

} // namespace busoptions

#endif // BUSOPTIONS_H
