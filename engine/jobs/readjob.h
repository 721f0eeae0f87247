#ifndef READJOB_H
#define READJOB_H

#include "engine/jobs/modulejob.h"

// Identifies and reads a module: the eleven queries of the read-out.
class ReadJob : public ModuleJob
{
    Q_OBJECT

public:
    using ModuleJob::ModuleJob;
    void start() override;
    ModuleReading reading() const { return readout; }

private:
    ModuleReading readout;
};

#endif // READJOB_H
