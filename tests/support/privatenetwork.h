#ifndef PRIVATENETWORK_H
#define PRIVATENETWORK_H

// A test that connects to a site's addresses runs in a network namespace of
// its own: its main() re-executes the test program through scripts/netns.sh
// with the site's addresses on the namespace's lo, and stops before any test
// when another interface than lo can be seen. No packet leaves the machine.
// Header-only; ORDAN_NETNS_SCRIPT is defined for every test.
#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace privatenetwork
{

// Re-executes this program through netns.sh with `namespaceArgs` (its
// --addr and --route options), once. Returns only inside the namespace
// (true), or when the re-execution failed (false, said on stderr).
inline bool enter(int argc, char **argv, const QStringList &namespaceArgs)
{
    if (qEnvironmentVariableIsSet("ORDAN_TEST_IN_NETNS"))
        return true;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        perror("/proc/self/exe");
        return false;
    }
    self[n] = '\0';
    ::setenv("ORDAN_TEST_IN_NETNS", "1", 1);
    std::vector<QByteArray> words{"bash", ORDAN_NETNS_SCRIPT};
    for (const QString &arg : namespaceArgs)
        words.push_back(arg.toLocal8Bit());
    words.push_back("--");
    words.push_back(self);
    for (int i = 1; i < argc; ++i)
        words.push_back(argv[i]);
    std::vector<char *> args;
    args.reserve(words.size() + 1);
    for (QByteArray &word : words)
        args.push_back(word.data());
    args.push_back(nullptr);
    ::execvp("bash", args.data());
    perror("cannot run scripts/netns.sh");
    return false;
}

// Stops the program unless lo is the only interface this process sees.
inline void requireOnlyLoopback()
{
    QFile devices(QStringLiteral("/proc/self/net/dev"));
    QStringList interfaces;
    if (devices.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : devices.readAll().split('\n')) {
            if (line.contains(':'))
                interfaces << QString::fromLatin1(line.left(line.indexOf(':')).trimmed());
        }
    }
    if (interfaces != QStringList{QStringLiteral("lo")})
        qFatal("interfaces %s: not in a private network namespace, stopping",
               qPrintable(interfaces.join(QLatin1Char(' '))));
}

} // namespace privatenetwork

// main() of a Qt Test class that runs in a private network namespace with
// the given netns.sh options; `Application` is QCoreApplication or
// QApplication.
#define ORDAN_PRIVATE_NETWORK_MAIN(TestClass, Application, ...)                                    \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        if (!privatenetwork::enter(argc, argv, QStringList{__VA_ARGS__}))                          \
            return 1;                                                                              \
        privatenetwork::requireOnlyLoopback();                                                     \
        Application app(argc, argv);                                                               \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

#endif // PRIVATENETWORK_H
