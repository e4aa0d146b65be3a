#pragma once

#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/audio/ClockBridge.h"
#include "platform/sim/audio/HostEndpoint.h"
#include "platform/sim/audio/InputSource.h"

#include <memory>

namespace sim {

// The person at the computer on a call: their voice (an input source for the Phone app's caller, from
// the computer's microphone) and their ear (a tap on what the caller hears, played on the computer's
// output). Each crosses from the computer's clock to the simulated server's through a clock bridge.
// With echo cancellation the ear's signal is the voice processor's reference, so the voice carries the
// person, not what the speakers played back into the microphone.
//
// Threads: made on the main thread; the voice renders and the ear hears in the Phone app's IO cycles
// (the simulated server's IO thread), the endpoints' other sides run on the sound server's thread.
struct PersonAtComputer {
    std::shared_ptr<InputSource> voice;         // null without a microphone
    std::shared_ptr<AudioClient::InputTap> ear; // null without an output
    // The bridges' queues, for the delay each direction adds (null with the direction).
    std::shared_ptr<const ClockBridge> voiceBridge;
    std::shared_ptr<const ClockBridge> earBridge;

    static PersonAtComputer make(std::shared_ptr<HostEndpoint> microphone,
                                 std::shared_ptr<HostEndpoint> speaker, bool cancelEcho);
};

} // namespace sim
