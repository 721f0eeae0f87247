#include "settings/setting_module.h"

#include "settings/settingsstore.h"

#include <QSettings>

#include <utility>

namespace
{

const char *const textKeysBeforeIntegers[] = {"IP_ADRESS", "MASK", "GATEWAY", "PORT_TCP"};
const char *const integerKeys[] = {"SPEED_RS485", "STOP_BIT", "PARITY", "MODE_TCP"};
const char *const textKeysAfterIntegers[] = {"TIMEOUT_RESPONSE", "Client_TCP/IP_SERVER_TCP",
                                             "Client_TCP/TIMEOUT_TCP", "Client_TCP/RTU_VIRTUAL_ID",
                                             "Client_TCP/TCP_SLAVE_ID"};

setting_module::FileChooser &fileChooser()
{
    static setting_module::FileChooser chooser;
    return chooser;
}

QString chooseFile(setting_module::FileAccess access)
{
    return fileChooser() ? fileChooser()(access) : QString();
}

} // namespace

setting_module::setting_module(QObject *parent) : QObject(parent) {}

QStringList setting_module::keyNames()
{
    QStringList keys;
    for (const char *key : textKeysBeforeIntegers)
        keys << QLatin1String(key);
    for (const char *key : integerKeys)
        keys << QLatin1String(key);
    for (const char *key : textKeysAfterIntegers)
        keys << QLatin1String(key);
    return keys;
}

setting_module::~setting_module()
{
    delete settings;
}

void setting_module::replaceStore(QSettings *store)
{
    if (store == settings)
        return;
    delete settings;
    settings = store;
}

void setting_module::setFileChooser(FileChooser chooser)
{
    fileChooser() = std::move(chooser);
}

void setting_module::LoadNTSetting()
{
    fileName = chooseFile(FileAccess::Open);
    LoadNTSetting(fileName);
}

void setting_module::SaveNTSetting()
{
    fileName = chooseFile(FileAccess::Save);
    SaveNTSetting(fileName);
}

void setting_module::LoadNTSetting(const QString &FileName)
{
    // Only a file that passed the screen reaches the settings library; any
    // other leaves the fields at their defaults and the operation unread.
    QSettings *store = nullptr;
    if (settingsstore::examineFile(FileName) == settingsstore::FileState::Safe) {
        store = settingsstore::openStore(FileName);
        // A format error still leaves the keys that parse readable.
        if (store->status() == QSettings::AccessError) {
            delete store;
            store = nullptr;
        }
    }
    replaceStore(store);
    lastOutcome = store ? Outcome::Done : Outcome::NotRead;
    readKeys();
}

void setting_module::SaveNTSetting(const QString &FileName)
{
    using settingsstore::FileState;
    const FileState state = settingsstore::examineFile(FileName);
    if (FileName.isEmpty() || state == FileState::NotAFile || state == FileState::Unreadable) {
        replaceStore(nullptr);
        lastOutcome = Outcome::NotWritten;
        return;
    }

    // The library reads the file it is about to write, to keep its other
    // keys: a refused file must not get there.
    QSettings *existing = nullptr;
    if (state != FileState::Rejected) {
        existing = settingsstore::openStore(FileName);
        // The library parses sections when they are first used and keeps the
        // first error it met: parse them all now, so that a format error of
        // the old text shows before the write and the status after the write
        // speaks of the write alone.
        // cppcheck-suppress ignoredReturnValue ; called for its parsing, not its keys
        existing->allKeys();
        if (existing->status() == QSettings::NoError) {
            writeKeys(*existing);
            replaceStore(existing);
            lastOutcome = settingsstore::syncStore(*existing) ? Outcome::Done : Outcome::NotWritten;
            return;
        }
        if (existing->status() != QSettings::FormatError) {
            delete existing;
            replaceStore(nullptr);
            lastOutcome = Outcome::NotWritten;
            return;
        }
    }

    // A damaged or refused file is not a parameter set: it is replaced whole,
    // keeping the keys that a damaged file still yields. (A store that met a
    // format error keeps reporting it, so it cannot confirm its own write.)
    const bool written = settingsstore::writeFreshFile(FileName, [&](QSettings &fresh) {
        if (existing) {
            for (const QString &key : existing->allKeys())
                fresh.setValue(key, existing->value(key));
        }
        writeKeys(fresh);
    });
    delete existing;
    replaceStore(written ? settingsstore::openStore(FileName) : nullptr);
    lastOutcome = written ? Outcome::Done : Outcome::NotWritten;
}

void setting_module::readKeys()
{
    const auto text = [this](const char *key) {
        return settings ? settings->value(QLatin1String(key), QString()).toString() : QString();
    };
    const auto integer = [this](const char *key) {
        return settings ? settingsstore::toStoredInt(settings->value(QLatin1String(key), 0)) : 0;
    };
    QString *const before[] = {&ip_adress, &mask, &gateway, &port_tcp};
    int *const integers[] = {&speed_rs485, &stop_bit, &parity, &mode_tcp};
    QString *const after[] = {&timeout_response, &ip_server_tcp, &timeout_tcp, &rtu_virtual_id,
                              &tcp_slave_id};
    for (int i = 0; i < 4; ++i)
        *before[i] = text(textKeysBeforeIntegers[i]);
    for (int i = 0; i < 4; ++i)
        *integers[i] = integer(integerKeys[i]);
    for (int i = 0; i < 5; ++i)
        *after[i] = text(textKeysAfterIntegers[i]);
}

void setting_module::writeKeys(QSettings &store) const
{
    const QString before[] = {ip_adress, mask, gateway, port_tcp};
    const int integers[] = {speed_rs485, stop_bit, parity, mode_tcp};
    const QString after[] = {timeout_response, ip_server_tcp, timeout_tcp, rtu_virtual_id,
                             tcp_slave_id};
    for (int i = 0; i < 4; ++i)
        store.setValue(QLatin1String(textKeysBeforeIntegers[i]), before[i]);
    for (int i = 0; i < 4; ++i)
        store.setValue(QLatin1String(integerKeys[i]), integers[i]);
    for (int i = 0; i < 5; ++i)
        store.setValue(QLatin1String(textKeysAfterIntegers[i]), after[i]);
}
