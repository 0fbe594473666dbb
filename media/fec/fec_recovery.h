// Erasure recovery of one frame: rebuilds its lost data packets from the packets that arrived.
#pragma once

#include "media/fec/fec_frame.h"

// Completes an incomplete frame that holds at least k of its packets; true when this call
// completed it (counted as one repaired block). Anything else (a complete frame, too few
// packets, a frame whose fields were changed by hand into nonsense) leaves it as it is and
// gives false. Reads and writes only inside the frame's own payloads and its own buffers.
bool recoverFrame(FecFrame& frame);
