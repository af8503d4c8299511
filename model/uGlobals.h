#pragma once
// The device data model in one include: tags, devices, the register template reader, Modbus
// request frames and the answer decoder.

#include "model/uDevice.h"
#include "model/uModbusFrames.h"
#include "model/uTag.h"
