#!/usr/bin/python3
"""A Modbus RTU server of Debian's python3-pymodbus on the serial port PATH,
for the bus tests: units 1, 2 and 5 at 19200 8E1 (or --speed, --parity; on
a pseudo-terminal pyserial's second setting of a parity fails with "Invalid
argument", so the tests run it at 8N1).

Unit 1 holds 10 holding registers from address 0 (its reply: 1000 + the
address); unit 2 holds them from address 100 only, so a read of address 0
is answered with exception 2 (illegal data address); unit 5 answers every
read of holding registers with exception 1 (illegal function). Prints
"ready" once it serves; SIGTERM ends it."""

import argparse
import asyncio
import signal
import sys

try:
    from pymodbus.datastore import (ModbusSequentialDataBlock,
                                    ModbusServerContext, ModbusSlaveContext)
    from pymodbus.pdu import ModbusExceptions
    from pymodbus.register_read_message import ReadHoldingRegistersRequest
    from pymodbus.server.async_io import ModbusSerialServer
    from pymodbus.transaction import ModbusRtuFramer
except ImportError as missing:
    print(f"pymodbus is missing: {missing}", file=sys.stderr)
    sys.exit(3)


class RefusingContext(ModbusSlaveContext):
    """A unit that knows no function: every request is exception 1."""


read_holding = ReadHoldingRegistersRequest.execute


def execute(request, context):
    if isinstance(context, RefusingContext):
        return request.doException(ModbusExceptions.IllegalFunction)
    return read_holding(request, context)


ReadHoldingRegistersRequest.execute = execute


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("path")
    parser.add_argument("--speed", type=int, default=19200)
    parser.add_argument("--parity", default="E")
    args = parser.parse_args()

    def block(start):
        return ModbusSequentialDataBlock(start, [1000 + start + i for i in range(10)])

    units = {
        1: ModbusSlaveContext(hr=block(0), zero_mode=True),
        2: ModbusSlaveContext(hr=block(100), zero_mode=True),
        5: RefusingContext(hr=block(0), zero_mode=True),
    }
    context = ModbusServerContext(slaves=units, single=False)
    server = ModbusSerialServer(context, ModbusRtuFramer, port=args.path,
                                baudrate=args.speed, parity=args.parity,
                                bytesize=8, stopbits=1,
                                ignore_missing_slaves=True)
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    print("ready", flush=True)
    await server.start()
    await server.serve_forever()


try:
    asyncio.run(main())
except RuntimeError:
    pass  # stopped by SIGTERM
