#ifndef TESTTIME_H
#define TESTTIME_H

// How long a test may wait on the programs it starts. Every time-out a test
// gives a program, and every bound it asserts, is multiplied by one scale:
// ORDAN_TEST_TIME_SCALE (1 when unset; at least 1). The sanitizer suites set
// it, and a slow machine may. Header-only, Qt Core alone.
#include <QtGlobal>

namespace testtime
{

inline double scale()
{
    static const double value = [] {
        bool ok = false;
        const double read = qEnvironmentVariable("ORDAN_TEST_TIME_SCALE").toDouble(&ok);
        return ok && read >= 1.0 ? read : 1.0;
    }();
    return value;
}

// `milliseconds` on this machine's scale.
inline int ms(int milliseconds)
{
    return static_cast<int>(milliseconds * scale());
}

} // namespace testtime

#endif
