// legacy_call.h - the calling protocol the legacy decoders (explode, unshrink) share.
//
// A call offers *inputCount bytes at input + inputOffset and *outputCount bytes of room at
// output + outputOffset, and learns in the same two words how many were taken and written.
// A missing count, a state block that its init call did not set up, or a stream that has ended
// gives 1 with nothing taken or written; otherwise the decoder's own result.
#pragma once

#include <cstdint>

namespace qv {

// `state` is the decoder's state in the caller's block (nullptr when the block is missing);
// `live` says whether it was set up and has not ended. Decoder(state, in, inEnd, out, outEnd,
// final) runs with Run() and reports where it stopped with in() and out().
template <class Decoder, class State>
int32_t CallLegacyDecoder(State* state, bool live, const uint8_t* input, uint32_t inputOffset,
                          uint32_t* inputCount, uint8_t* output, uint32_t outputOffset,
                          uint32_t* outputCount, uint32_t final) {
    if (inputCount == nullptr || outputCount == nullptr) return 1;
    const uint32_t available = input != nullptr ? *inputCount : 0;
    const uint32_t space = output != nullptr ? *outputCount : 0;
    *inputCount = 0;
    *outputCount = 0;
    if (state == nullptr || !live) return 1;
    const uint8_t* in = input != nullptr ? input + inputOffset : nullptr;
    uint8_t* out = output != nullptr ? output + outputOffset : nullptr;
    Decoder decoder(*state, in, in + available, out, out + space, (final & 0xFFFF) != 0);
    const int32_t result = decoder.Run();
    *inputCount = static_cast<uint32_t>(decoder.in() - in);
    *outputCount = static_cast<uint32_t>(decoder.out() - out);
    return result;
}

}  // namespace qv
