// Wall time of one inference call beside what explains it: the processor time
// the process spent on it and the time its threads waited for a processor
// that other programs held. A library that sleeps or stalls shows wall time
// that neither explains; a busy machine shows up as waiting.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>

namespace zor::cert {

// Processor time of a CPU clock in milliseconds: the process's
// (CLOCK_PROCESS_CPUTIME_ID) or a thread's (pthread_getcpuclockid), read from
// any thread; NaN once that thread has ended.
double cpuClockMs(clockid_t clock);

// Run-queue wait of every thread of this process so far, in milliseconds per
// thread id; empty where the kernel does not say.
std::map<long, double> threadWaitsMs();

// What the threads of `after` waited since `before`: a thread new in `after`
// counts from zero, one that has ended is not counted.
double waitedSinceMs(const std::map<long, double>& before, const std::map<long, double>& after);

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

// Where the calling thread's time went since construction: on a processor,
// waiting in the run queue for one, or blocked (asleep: on a lock, on other
// threads, on a device). Zero running and waiting where the kernel does not
// say.
struct ThreadTime {
    double wallMs = 0.0;
    double runningMs = 0.0;
    double waitingMs = 0.0;
    double blockedMs() const { return std::max(0.0, wallMs - runningMs - waitingMs); }
    // What the thread's calls took on a machine of its own.
    double ownMs() const { return std::max(0.0, wallMs - waitingMs); }
};

class ThreadTimer {
public:
    ThreadTimer();
    ThreadTime stop() const;

private:
    std::chrono::steady_clock::time_point wallStart_;
    double runningStartMs_ = 0.0;
    double waitingStartMs_ = 0.0;
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
