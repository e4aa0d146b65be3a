#pragma once

// Blocks of sound crossing from one device's clock to another's (a Mac's built-in microphone beside the
// call's virtual device, during an intervention). Two clocks never agree exactly, so the player's queue
// between them would slowly grow (delay) or run dry (gaps) over a long call. The guard drops a quiet block
// when the queue is deep and plays a quiet block twice when it is shallow: the correction happens in the
// pauses of speech, never inside a word, and costs a peak scan of each block.
//
// Threads: used by the capture tap that schedules the blocks (one thread); no state but its bounds.
class ClockSkewGuard {
public:
    enum class Action { Drop, Play, PlayTwice };

    // The queue's bounds, in blocks, between which nothing is touched.
    ClockSkewGuard(int fewestBlocks, int mostBlocks) : m_fewest(fewestBlocks), m_most(mostBlocks) {}

    Action decide(int queuedBlocks, bool quiet) const
    {
        if (!quiet)
            return Action::Play;
        if (queuedBlocks > m_most)
            return Action::Drop;
        if (queuedBlocks < m_fewest)
            return Action::PlayTwice;
        return Action::Play;
    }

    // Quiet: no 16-bit sample above -40 dBFS.
    static bool isQuiet(const short* samples, int count)
    {
        for (int i = 0; i < count; ++i)
            if (samples[i] > kQuietPeak || samples[i] < -kQuietPeak)
                return false;
        return true;
    }
    static constexpr short kQuietPeak = 328;

private:
    int m_fewest;
    int m_most;
};
