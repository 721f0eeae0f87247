#ifndef PARAMETERSETS_H
#define PARAMETERSETS_H

#include "settings/setting_module.h"

#include <QStringList>

// The thirteen fields of a parameter set in the order of their keys,
// integers as decimal text.
inline QStringList fields(const setting_module &m)
{
    QStringList all{m.ip_adress, m.mask, m.gateway, m.port_tcp};
    for (int value : {m.speed_rs485, m.stop_bit, m.parity, m.mode_tcp})
        all << QString::number(value);
    return all << m.timeout_response << m.ip_server_tcp << m.timeout_tcp << m.rtu_virtual_id
               << m.tcp_slave_id;
}

inline void setFields(setting_module &m, const QStringList &v)
{
    QString *texts[] = {&m.ip_adress,        &m.mask,          &m.gateway,     &m.port_tcp,
                        &m.timeout_response, &m.ip_server_tcp, &m.timeout_tcp, &m.rtu_virtual_id,
                        &m.tcp_slave_id};
    int *integers[] = {&m.speed_rs485, &m.stop_bit, &m.parity, &m.mode_tcp};
    for (int i = 0; i < 13; ++i) {
        if (i >= 4 && i < 8)
            *integers[i - 4] = v[i].toInt();
        else
            *texts[i < 4 ? i : i - 4] = v[i];
    }
}

// The parameter sets that the Qt 5 and the Qt 6 build each saved into
// tests/data/crossover/qt<major>-<name>.TRset (ordan-save-crossover writes
// them), as the thirteen fields split at "|" in UTF-8. A set with `variants`
// also holds values the settings library wrote as serialized variants: the
// screen refuses that file on either build.
struct CrossoverSet {
    const char *name;
    const char *values;
    bool variants;
};

inline const CrossoverSet crossoverSets[] = {
    {"plain", "192.168.1.20|255.255.255.0|192.168.1.1|502|7|1|2|1|1000|192.168.1.30|5000|17|1",
     false},
    {"cyrillic", "10.0.0.7|255.255.0.0|шлюз Москва-1|8899|4|2|0|0|250|сервер №2|3000|ЁЖ|я", false},
    {"unicode",
     "ÿ é ü|\u00ad·\u2028|Ωμέγα 🙂|\"q\", a;b=c|0|0|0|0| @x |\\x41|\x01\x7f|z\ufeff|,",
     false},
    {"variants", "10.1.1.1|255.0.0.0|шлюз|502|3|1|1|0|100||||", true},
};

#endif // PARAMETERSETS_H
