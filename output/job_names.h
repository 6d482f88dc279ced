// Names of the small numbers the job record and band intake carry.
#pragma once

#include <cstdint>

namespace qxout {

// How band intake writes a line (TypeA_Proc's writeMode).
enum WriteMode : int {
    kIntoBand = 0,       // into the band being filled
    kFirstBandOpen = 1,  // the page's first band, opened by this line
    kIntoTemporary = 2,  // a later band: the old one is completed, the line is parked
};

// What OutputComplete must finish (OutputContext::completeMode).
enum CompleteMode : int32_t {
    kSameBand = 0,
    kFirstBand = 1,
    kNewBand = 2,
    kAfterFlush = 3,
    kAfterFormFeed = 4,
};

// OutputContext::headerState: whether the job header went out.
enum HeaderState : int16_t {
    kHeaderPending = 0,
    kHeaderSent = 2,
};

}  // namespace qxout
