"""A Modbus RTU server with 42 in every holding register, for the answer
benchmark: the reference the answer rules are measured against.

    /usr/bin/python3 bench/pymodbus_rtu_server.py DEVICE
"""
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartSerialServer

store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, [42] * 16))
context = ModbusServerContext(slaves={1: store}, single=False)
StartSerialServer(context=context, framer=ModbusRtuFramer, port=sys.argv[1],
                  baudrate=115200, bytesize=8, parity="N", stopbits=1)
