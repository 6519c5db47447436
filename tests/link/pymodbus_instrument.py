#!/usr/bin/python3
"""An instrument built on pymodbus, independent of hx5800-sim, for checking the link.

Serves Modbus RTU at 9600 8N1 on a serial device (one end of a socat pair) from a sparse
datastore given as JSON: {"ir": {"1": -1500, ...}, "di": [5, 254, ...], "hr": {"257": 0}}.
Register numbers are the instrument's (input register 1, holding register 4097); with
pymodbus's default zero_mode=False a datastore key is the protocol address + 1, which is
that number. Anything outside the store is answered with exception 02.

Modes:
  server  pymodbus's own serial server (StartSerialServer), needs serial_asyncio
  framer  pymodbus's RTU framer, request decoder and datastore in a plain pyserial loop

Standard input takes "get hr N" / "get ir N" (prints the stored signed value) and "quit".
Prints "ready <mode>" once the datastore is built, or "unavailable <why>" and exits 3 when
the mode cannot run here.
"""
import argparse
import json
import sys
import threading

from pymodbus.datastore import (
    ModbusServerContext,
    ModbusSlaveContext,
    ModbusSparseDataBlock,
)


def word(value):
    return value & 0xFFFF


def signed(value):
    return value - 0x10000 if value >= 0x8000 else value


def build_context(store):
    ir = {int(k): word(v) for k, v in store.get("ir", {}).items()}
    hr = {int(k): word(v) for k, v in store.get("hr", {}).items()}
    di = {}
    for k, byte in enumerate(store.get("di", [])):
        for b in range(8):
            di[8 * k + b + 1] = bool((byte >> b) & 1)
    slave = ModbusSlaveContext(
        di=ModbusSparseDataBlock(di or {1: False}),
        co=ModbusSparseDataBlock({1: False}),
        hr=ModbusSparseDataBlock(hr or {1: 0}),
        ir=ModbusSparseDataBlock(ir or {1: 0}),
    )
    return ModbusServerContext(slaves=slave, single=True)


def console(context):
    tables = {"hr": 3, "ir": 4}
    for line in sys.stdin:
        words = line.split()
        if words == ["quit"]:
            break
        if len(words) == 3 and words[0] == "get" and words[1] in tables and words[2].isdigit():
            number = int(words[2])
            slave = context[0]
            if slave.validate(tables[words[1]], number - 1, 1):
                print(signed(slave.getValues(tables[words[1]], number - 1, 1)[0]), flush=True)
            else:
                print("error not mapped", flush=True)
        else:
            print("error unknown command", flush=True)
    sys.stdout.flush()
    import os

    os._exit(0)


def serve_with_server(context, port):
    try:
        from pymodbus.server import StartSerialServer
        from pymodbus.transaction import ModbusRtuFramer
    except ImportError as error:
        print(f"unavailable {error}", flush=True)
        sys.exit(3)
    print("ready server", flush=True)
    StartSerialServer(
        context=context,
        framer=ModbusRtuFramer,
        port=port,
        baudrate=9600,
        bytesize=8,
        parity="N",
        stopbits=1,
        timeout=0.005,
    )


def serve_with_framer(context, port):
    import serial
    from pymodbus.factory import ServerDecoder
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.pdu import ModbusExceptions

    line = serial.Serial(port=port, baudrate=9600, bytesize=8, parity="N", stopbits=1, timeout=0.005)
    framer = ModbusRtuFramer(ServerDecoder())

    def execute(request):
        try:
            response = request.execute(context[request.unit_id])
        except Exception:  # pylint: disable=broad-except
            response = request.doException(ModbusExceptions.SlaveFailure)
        response.unit_id = request.unit_id
        response.transaction_id = request.transaction_id
        line.write(framer.buildPacket(response))

    print("ready framer", flush=True)
    while True:
        data = line.read(256)
        if data:
            try:
                framer.processIncomingPacket(data, execute, unit=[0], single=True)
            except Exception:  # pylint: disable=broad-except
                framer.resetFrame()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", required=True)
    parser.add_argument("--mode", choices=["server", "framer"], default="server")
    parser.add_argument("--store", required=True, help="datastore as JSON")
    args = parser.parse_args()
    context = build_context(json.loads(args.store))
    threading.Thread(target=console, args=(context,), daemon=True).start()
    if args.mode == "server":
        serve_with_server(context, args.port)
    else:
        serve_with_framer(context, args.port)


if __name__ == "__main__":
    main()
