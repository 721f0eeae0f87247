// Arbitrary file contents handed to the settings object. Whatever a file
// holds, loading it and saving over it must neither crash nor leak; a text
// that the screen passes must never make the settings library decode a
// serialized variant; and after a save the file is a sound parameter set.
//
// With ORDAN_FUZZ_UNSCREENED set, every input goes to the settings library
// unscreened instead, to show that the harness sees the crash it guards
// against.

#include "settings/setting_module.h"
#include "settings/settingsstore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{

QTemporaryDir *scratch = nullptr;
bool unscreened = false;
quint64 inputs = 0;

// The kinds of value that INI text yields without a serialized variant.
bool isPlain(const QVariant &value)
{
    const QList<int> plain{QMetaType::UnknownType, QMetaType::QString, QMetaType::QStringList,
                           QMetaType::QByteArray,  QMetaType::QRect,   QMetaType::QSize,
                           QMetaType::QPoint};
    if (value.userType() != QMetaType::QVariantList)
        return plain.contains(value.userType());
    const QVariantList elements = value.toList();
    return std::all_of(elements.begin(), elements.end(), isPlain);
}

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_settings_load: %s\n", what);
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    scratch = new QTemporaryDir;
    check(scratch->isValid(), "no scratch directory");
    unscreened = qEnvironmentVariableIsSet("ORDAN_FUZZ_UNSCREENED");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A fresh name for every input: the settings library caches what it read
    // per path and would not read a file again that looks unchanged.
    const QString path = scratch->filePath(QStringLiteral("input%1.TRset").arg(++inputs));
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly) && file.write(text) == text.size(), "cannot write");
    }

    if (unscreened) {
        const std::unique_ptr<QSettings> store(settingsstore::openStore(path));
        for (const QString &key : store->allKeys())
            store->value(key);
        QFile::remove(path);
        return 0;
    }

    const bool safe = settingsstore::textIsSafe(text) && size <= size_t(settingsstore::maxFileSize);
    {
        setting_module module;
        module.LoadNTSetting(path);
        check((module.outcome() == setting_module::Outcome::Done) == safe,
              "load outcome disagrees with the screen");
        if (safe) {
            const std::unique_ptr<QSettings> store(settingsstore::openStore(path));
            for (const QString &key : store->allKeys())
                check(isPlain(store->value(key)), "the screen passed a decoded variant");
        }
        module.ip_adress = QStringLiteral("10.0.0.1");
        module.SaveNTSetting(path);
        check(module.outcome() == setting_module::Outcome::Done, "save failed");
    }
    check(settingsstore::examineFile(path) == settingsstore::FileState::Safe, "saved file refused");
    setting_module reread;
    reread.LoadNTSetting(path);
    check(reread.ip_adress == QLatin1String("10.0.0.1"), "saved value lost");
    QFile::remove(path);
    return 0;
}
