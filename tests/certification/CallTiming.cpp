#include "CallTiming.h"

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace zor::cert {
namespace {

double processCpuMs() {
    return cpuClockMs(CLOCK_PROCESS_CPUTIME_ID);
}

// Run-queue wait of the calling thread so far; 0 where unknown.
void ownSchedulingMs(double& running, double& waiting) {
    std::ifstream stat("/proc/thread-self/schedstat");
    if (!(stat >> running >> waiting)) {
        running = waiting = 0.0;
    }
    running *= 1e-6;
    waiting *= 1e-6;
}

// Busy and total clock ticks of all processors since boot.
bool processorTicks(double& busy, double& total) {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal) || cpu != "cpu") {
        return false;
    }
    busy = user + nice + system + irq + softirq + steal;
    total = busy + idle + iowait;
    return true;
}

}  // namespace

// schedstat: time on the processor, time waiting for one, time slices; in
// nanoseconds.
std::map<long, double> threadWaitsMs() {
    std::map<long, double> waits;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        double running = 0.0;
        double waiting = 0.0;
        if (stat >> running >> waiting) {
            waits[std::stol(task.path().filename().string())] = waiting * 1e-6;
        }
    }
    return waits;
}

double waitedSinceMs(const std::map<long, double>& before, const std::map<long, double>& after) {
    double waited = 0.0;
    for (const auto& [thread, total] : after) {
        const auto start = before.find(thread);
        waited += total - (start == before.end() ? 0.0 : start->second);
    }
    return waited;
}

double cpuClockMs(clockid_t clock) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0) {
        return std::nan("");
    }
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

CallTimer::CallTimer()
    : wallStart_(std::chrono::steady_clock::now()), cpuStartMs_(processCpuMs()), waitStartMs_(threadWaitsMs()) {}

CallTime CallTimer::stop() const {
    CallTime time;
    time.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart_).count();
    time.cpuMs = processCpuMs() - cpuStartMs_;
    // The most any one thread waited, not the sum: threads that wait side by
    // side delay the call once, so this never excuses a stall of the library.
    for (const auto& [thread, waited] : threadWaitsMs()) {
        const auto before = waitStartMs_.find(thread);
        const double delta = waited - (before == waitStartMs_.end() ? 0.0 : before->second);
        time.waitMs = std::max(time.waitMs, delta);
    }
    return time;
}

ThreadTimer::ThreadTimer() : wallStart_(std::chrono::steady_clock::now()) {
    ownSchedulingMs(runningStartMs_, waitingStartMs_);
}

ThreadTime ThreadTimer::stop() const {
    ThreadTime time;
    ownSchedulingMs(time.runningMs, time.waitingMs);
    time.runningMs -= runningStartMs_;
    time.waitingMs -= waitingStartMs_;
    time.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart_).count();
    return time;
}

LoadMeter::LoadMeter() : busyTicksStart_(0), totalTicksStart_(0), cpuStartMs_(processCpuMs()) {
    processorTicks(busyTicksStart_, totalTicksStart_);
}

MachineLoad LoadMeter::stop() const {
    MachineLoad load;
    double busy = 0, total = 0;
    std::ifstream average("/proc/loadavg");
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    load.processors = static_cast<int>(std::thread::hardware_concurrency());
    if (!(average >> load.loadAverage) || !processorTicks(busy, total) || total <= totalTicksStart_ ||
        ticksPerSecond <= 0) {
        return load;
    }
    const double ownTicks = (processCpuMs() - cpuStartMs_) * 1e-3 * static_cast<double>(ticksPerSecond);
    const double othersTicks = std::max(0.0, busy - busyTicksStart_ - ownTicks);
    load.othersShare = std::min(1.0, othersTicks / (total - totalTicksStart_));
    load.known = true;
    return load;
}

}  // namespace zor::cert
