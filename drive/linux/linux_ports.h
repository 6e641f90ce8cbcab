// The real platform layer: the two transports of TAtapi over the Linux kernel.
//  - TLinuxPassThroughPort (sg_io_port.h): SG_IO on /dev/sr0 .. /dev/sr24.
//  - TLinuxAspiPort (sg_driver_port.h): an ASPI-style layer over the sg driver (/dev/sgN).
// What they share is in sg_common.h (sg_io_hdr building, outcome mapping, opening a device)
// and sysfs.h (reading /sys).
#pragma once

#include "drive/linux/sg_common.h"
#include "drive/linux/sg_driver_port.h"
#include "drive/linux/sg_io_port.h"
#include "drive/linux/sysfs.h"
