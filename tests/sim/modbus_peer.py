#!/usr/bin/python3
"""An independent Modbus RTU master (pymodbus 3.0) for the simulator's end-to-end test.

Reads the instrument's tables, makes one write, tries a calibration write, and prints
one JSON object on stdout. Register values are printed signed, as the instrument means them.

usage: modbus_peer.py DEVICE SLAVE WRITE_REGISTER WRITE_VALUE
"""
import json
import sys
import types

try:
    import serial_asyncio  # noqa: F401
except ImportError:
    # Debian's pymodbus 3.0 imports serial_asyncio for its asynchronous client without
    # depending on python3-serial-asyncio; the synchronous client used here never calls it.
    sys.modules["serial_asyncio"] = types.SimpleNamespace(create_serial_connection=None)

from pymodbus.client import ModbusSerialClient  # noqa: E402


def signed(words):
    return [w - 0x10000 if w >= 0x8000 else w for w in words]


def registers(response):
    if response.isError():
        return {"error": getattr(response, "exception_code", -1)}
    return signed(response.registers)


def main():
    device, slave, write_register, write_value = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    # pymodbus 3.0 keeps the timeout as a whole number of seconds.
    client = ModbusSerialClient(port=device, baudrate=9600, bytesize=8, parity="N", stopbits=1, timeout=1, retries=0)
    if not client.connect():
        print(json.dumps({"error": "cannot open " + device}))
        return 1
    out = {}
    # protocol address = register or input number - 1
    out["ir"] = registers(client.read_input_registers(0, 16, slave=slave))
    di = client.read_discrete_inputs(0, 32, slave=slave)
    out["di"] = {"error": di.exception_code} if di.isError() else [int(b) for b in di.bits[:32]]
    out["hr257"] = registers(client.read_holding_registers(256, 16, slave=slave))
    out["hr4097"] = registers(client.read_holding_registers(4096, 16, slave=slave))
    out["hr24577"] = registers(client.read_holding_registers(24576, 8, slave=slave))

    w = client.write_register(write_register - 1, write_value & 0xFFFF, slave=slave)
    out["write"] = {"error": w.exception_code} if w.isError() else "ok"
    out["readback"] = registers(client.read_holding_registers(write_register - 1, 1, slave=slave))

    c = client.write_register(24577 - 1, 1234, slave=slave)
    out["calibration_write"] = {"error": c.exception_code} if c.isError() else "ok"
    out["beyond_map"] = registers(client.read_input_registers(16, 1, slave=slave))
    client.close()
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
