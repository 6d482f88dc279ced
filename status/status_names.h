// Names of the paper-path status machine's states and operations. The
// numbers are those of the exported transition tables.
#pragma once

#include <cstdint>

namespace qxstatus {

// Operation numbers: each exported job call names the one it performs.
enum Operation : int16_t {
    kOpReserved0 = 0,    // no caller; rows kept in the exported tables
    kOpInitTwo = 1,      // OutputInitTwo: bind the job to the model
    kOpReserved2 = 2,    // no caller; always refused
    kOpInitPart = 3,     // OutputInitPart: page setup
    kOpProduce = 4,      // OutputProduce, OutputProduceTwo
    kOpComplete = 5,     // OutputComplete
    kOpFlush = 6,        // OutputFlush
    kOpReserved7 = 7,    // no caller
    kOpFormFeed = 8,     // OutputFormFeed (banner paper only)
    kOpReserved9 = 9,    // no caller
    kOpReserved10 = 10,  // no caller
};
constexpr int kOperationCount = 11;

// States. Cut paper uses 0..7, banner paper 8..19; states only reached by
// operations without a caller keep plain names.
enum State : int16_t {
    kCutState0 = 0,
    kCutOpened = 1,          // OutputOpen
    kCutBound = 2,           // bound to the model; between pages
    kCutPageReady = 3,       // page set up, or the last line completed
    kCutLineProduced = 4,    // a line produced, completion pending
    kCutState5 = 5,
    kCutState6 = 6,
    kCutFlushed = 7,         // page flushed, completion pending
    kBannerState8 = 8,
    kBannerOpened = 9,       // opened and switched to banner paper
    kBannerBound = 10,       // bound to the model; between forms
    kBannerPageReady = 11,   // page set up, or the last line completed
    kBannerLineProduced = 12,
    kBannerState13 = 13,
    kBannerState14 = 14,
    kBannerFormFed = 15,     // form feed issued, completion pending
    kBannerFlushed = 16,     // job flushed, completion pending
    kBannerState17 = 17,
    kBannerState18 = 18,
    kBannerFinished = 19,    // job finished
};
constexpr int kStateCount = 20;

}  // namespace qxstatus
