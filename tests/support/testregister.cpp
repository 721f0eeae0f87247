// Every test's processes (the test itself, and the ordan-cli and ordan-site
// it starts) get a site register of their own unless the test names one:
// an empty SQLite register in memory, made anew by each process. No test
// writes into the user's register, and no run of one test meets the
// modules of another. A test about the register names its own file or
// server (--register, or ORDAN_REGISTER set before its processes start).
#include <QByteArray>
#include <QtGlobal>

namespace
{

void giveTestsARegister()
{
    if (!qEnvironmentVariableIsSet("ORDAN_REGISTER"))
        qputenv("ORDAN_REGISTER", QByteArray("sqlite::memory:"));
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(giveTestsARegister)
