// What both Linux ports share: building an sg_io_hdr, reading its outcome, and opening a
// device node.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "drive/ports.h"

namespace tavo {

// sg_io_hdr for one pass-through block: CDB, direction, direct I/O on the block's buffer,
// time-out in milliseconds and the block's sense buffer.
sg_io_hdr BuildSgIoHeader(TPassThroughBlock& block);

// dxfer_direction for a pass-through DataIn value and a transfer length.
int SgDirectionForDataIn(uint8_t dataIn, uint32_t length);

// dxfer_direction for ASPI SRB_Flags (direction bits 08h in, 10h out) and a length.
int SgDirectionForSrbFlags(uint8_t flags, uint32_t length);

// Result of Execute from the ioctl outcome: the ioctl errno when it failed; ETIMEDOUT or EIO
// when the command ran but the host or driver reported a fault (other than sense data
// being present); else 0. Copies the SCSI status byte into the block when the ioctl ran.
int MapSgIoOutcome(int ioctlResult, int ioctlErrno, const sg_io_hdr& header,
                   TPassThroughBlock& block);

// True when the host and driver status of a completed request are clean (sense data being
// present does not count as a fault).
bool SgTransportClean(const sg_io_hdr& header);

// Opens a device without blocking on an empty tray, never as descriptor 0 to 2. Returns the
// descriptor, or -1 with the errno value in error.
int OpenDevice(const std::string& path, int& error);

}  // namespace tavo
