#pragma once

// What the sound server tests measure: a tone's frequency and level, and a patient wait for a daemon.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/linux/sound/SoundServer.h"

#include <QCoreApplication>

// Waits (up to a few seconds of real time: the daemon is another process) until `done` holds.
template <class Predicate> inline bool eventually(Predicate done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline const hostsound::Device* find(const std::vector<hostsound::Device>& devices, const std::string& name)
{
    for (const hostsound::Device& device : devices)
        if (device.name == name)
            return &device;
    return nullptr;
}

// The frequency of a tone from its zero crossings, and its level in dBFS.
inline double frequencyHz(const std::vector<float>& mono, double rateHz)
{
    int crossings = 0;
    for (size_t i = 1; i < mono.size(); ++i)
        crossings += (mono[i - 1] < 0) != (mono[i] < 0);
    return crossings * rateHz / 2.0 / double(mono.size());
}

inline double levelDb(const std::vector<float>& mono)
{
    double sum = 0;
    for (float sample : mono)
        sum += double(sample) * sample;
    return 10 * std::log10(sum / double(std::max<size_t>(mono.size(), 1)) + 1e-20);
}
