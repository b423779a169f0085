// Wall time of one inference call beside what explains it: the processor time
// the process spent on it and the time its threads waited for a processor
// that other programs held. A library that sleeps or stalls shows wall time
// that neither explains; a busy machine shows up as waiting.
#pragma once

#include <chrono>
#include <map>

namespace zor::cert {

struct CallTime {
    double wallMs = 0.0;
    double cpuMs = 0.0;   // the whole process, every thread the call used
    double waitMs = 0.0;  // run-queue wait of the thread that waited most
    // Wall time less the wait: what the call costs on a machine of its own.
    double ownMs() const { return wallMs > waitMs ? wallMs - waitMs : 0.0; }
};

// Times one call: construct before it, read `stop()` after it.
class CallTimer {
public:
    CallTimer();
    CallTime stop() const;

private:
    std::chrono::steady_clock::time_point wallStart_;
    double cpuStartMs_;
    std::map<long, double> waitStartMs_;  // per thread id
};

// Wall time less the calling thread's run-queue wait since construction:
// what the thread's calls took on a machine of its own, the time it was
// blocked (on a lock, on other threads) included.
class OwnTimer {
public:
    OwnTimer();
    double elapsedMs() const;

private:
    std::chrono::steady_clock::time_point wallStart_;
    double waitStartMs_;
};

// How busy the machine was over a stretch of the run, from /proc.
struct MachineLoad {
    bool known = false;
    double loadAverage = 0.0;  // one-minute load average at the end
    int processors = 0;
    // Share of all processors' time that other processes used meanwhile.
    double othersShare = 0.0;
};

// Construct at the start of the stretch, read `stop()` at its end.
class LoadMeter {
public:
    LoadMeter();
    MachineLoad stop() const;

private:
    double busyTicksStart_;
    double totalTicksStart_;
    double cpuStartMs_;
};

}  // namespace zor::cert
