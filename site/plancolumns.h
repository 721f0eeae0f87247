#ifndef PLANCOLUMNS_H
#define PLANCOLUMNS_H

#include "protocol/parameters.h"

#include <QString>

// The columns of the site window's plan table: the ten of a commissioning
// plan file (port, the eight parameters and bus_ids, as the file names
// them), then what a run finds of a row: its state, the module's MAC
// address, whether it answers on the network, whether the devices of its
// bus answer, and the result. The plan's rows (PlanRows), the table
// (PlanModel) and those who read it number them alike.
struct PlanColumns {
    enum Column {
        PortColumn,
        IpColumn,
        MaskColumn,
        GatewayColumn,
        TcpPortColumn,
        ParityColumn,
        SpeedColumn,
        StopBitsColumn,
        PacketTimeoutColumn,
        BusIdsColumn,
        StateColumn,
        MacColumn,
        NetworkColumn,
        BusColumn,
        ResultColumn,
        ColumnCount
    };
    // The plan's own columns come first: port to bus_ids.
    static constexpr int planColumnCount = StateColumn;

    // "port", "ip", ... "packet_timeout", "bus_ids": the column names of a
    // plan file.
    static QString columnKey(int column);
    // The parameter of a parameter's column (IpColumn to
    // PacketTimeoutColumn), and the column of a parameter (-1 for one the
    // plan has no column for).
    static ModuleField columnField(int column);
    static int columnOf(ModuleField field);
    // The row number the plan file (and ordan-cli) gives a table row: the
    // header is row 1.
    static int fileRow(int tableRow) { return tableRow + 2; }
};

#endif // PLANCOLUMNS_H
