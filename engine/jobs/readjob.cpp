#include "engine/jobs/readjob.h"

void ReadJob::start()
{
    if (!openPort())
        return;
    runQueries(&console, allFields(), progressHandler, [this](const ModuleReading &r) {
        readout = r;
        if (r.answered == 0)
            finish(JobResult::NoAnswer, tr("the module did not answer"));
        else
            finish(JobResult::Done);
    });
}
