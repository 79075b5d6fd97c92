#include "audio/simulated_state.hpp"
#include "audio/text_codec.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velkaphon::rack {

using namespace SimulatedImpl;

namespace SimulatedImpl {

// Under the state's mutex.
void unbindEvent(Stream& stream) {
    if (stream.event != nullptr) {
        stream.event->stream = nullptr;
        stream.event = nullptr;
    }
}

// Under the state's mutex.
void bindEvent(Stream& stream, EventRecord& event) {
    unbindEvent(stream);
    if (event.stream != nullptr) {
        unbindEvent(*event.stream);
    }
    stream.event = &event;
    event.stream = &stream;
}

} // namespace SimulatedImpl

Ticks SimulatedAudioSystem::State::now() const {
    if (!realTime) {
        return virtualNow;
    }
    return std::chrono::duration_cast<std::chrono::duration<Ticks, std::ratio<1, 10000000>>>(
               std::chrono::steady_clock::now() - origin)
        .count();
}

Ticks SimulatedAudioSystem::State::nextDeviceSignal(const EventRecord& event) const {
    const Stream* stream = event.stream;
    if (stream == nullptr || !stream->started || stream->periodFrames == 0) {
        return kForever;
    }
    return stream->startTime +
           static_cast<Ticks>(std::ceil((stream->eventsFired + 1) *
                                        stream->periodTicks(stream->endpoint->clockScale)));
}

void SimulatedAudioSystem::State::updateDevices(Ticks time) {
    for (auto& [pointer, event] : events) {
        while (nextDeviceSignal(*event) <= time) {
            ++event->stream->eventsFired;
            event->signalled = true;
        }
    }
}

bool SimulatedAudioSystem::State::consume(EventRecord& event) {
    if (!event.signalled) {
        return false;
    }
    if (!event.manualReset) {
        event.signalled = false;
    }
    return true;
}

void SimulatedAudioSystem::State::scheduleNext() {
    if (waiters.empty()) {
        return;
    }
    Waiter* chosen = nullptr;
    Ticks chosenTime = kForever;
    std::uint64_t chosenSerial = 0;
    for (Waiter* waiter : waiters) {
        Ticks ready = waiter->deadline;
        std::uint64_t serial = std::numeric_limits<std::uint64_t>::max();
        if (waiter->event != nullptr) {
            serial = waiter->event->serial;
            ready = std::min(ready, waiter->event->signalled ? virtualNow
                                                             : nextDeviceSignal(*waiter->event));
        }
        if (ready < chosenTime || (ready == chosenTime && serial < chosenSerial)) {
            chosen = waiter;
            chosenTime = ready;
            chosenSerial = serial;
        }
    }
    if (chosen == nullptr) {
        std::fprintf(stderr, "simulated audio: every thread waits forever\n");
        std::abort();
    }
    virtualNow = std::max(virtualNow, chosenTime);
    updateDevices(virtualNow);
    chosen->result = chosen->event != nullptr && consume(*chosen->event) ? WaitResult::Signalled
                                                                         : WaitResult::TimedOut;
    chosen->woken = true;
    ++active;
    chosen->wake.notify_one();
}

WaitResult SimulatedAudioSystem::State::blockUntil(std::unique_lock<std::mutex>& lock,
                                                   EventRecord* event, Ticks deadline) {
    Waiter waiter;
    waiter.event = event;
    waiter.deadline = deadline;
    if (realTime) {
        for (;;) {
            const Ticks time = now();
            updateDevices(time);
            if (event != nullptr && consume(*event)) {
                return WaitResult::Signalled;
            }
            if (time >= deadline) {
                return WaitResult::TimedOut;
            }
            const Ticks until =
                std::min(deadline, event != nullptr ? nextDeviceSignal(*event) : kForever);
            waiters.push_back(&waiter);
            if (until == kForever) {
                wake.wait(lock);
            } else {
                wake.wait_for(lock, std::chrono::microseconds((until - time) / 10 + 1));
            }
            waiters.remove(&waiter);
        }
    }
    waiters.push_back(&waiter);
    --active;
    while (!waiter.woken) {
        if (active == 0) {
            scheduleNext();
        }
        if (!waiter.woken) {
            waiter.wake.wait(lock);
        }
    }
    waiters.remove(&waiter);
    return waiter.result;
}

void SimulatedAudioSystem::State::sleepFor(std::unique_lock<std::mutex>& lock, double seconds) {
    blockUntil(lock, nullptr, now() + static_cast<Ticks>(std::llround(seconds * kTicksPerSecond)));
}

Hresult SimulatedAudioSystem::State::planned(std::unique_lock<std::mutex>& lock,
                                             const std::string& id, SimulatedCall call) {
    const CallKey key{id, call};
    const int count = ++counts[key];
    const auto found = plans.find(key);
    if (found == plans.end()) {
        return kHresultOk;
    }
    for (const Plan& plan : found->second) {
        if (plan.nth == count) {
            const Plan chosen = plan;
            if (chosen.delaySeconds > 0.0) {
                sleepFor(lock, chosen.delaySeconds);
            }
            return chosen.result;
        }
    }
    return kHresultOk;
}

Endpoint* SimulatedAudioSystem::State::find(const std::u16string& id) {
    for (auto& endpoint : endpoints) {
        if (utf8ToWide(endpoint->setup.id) == id) {
            return endpoint.get();
        }
    }
    return nullptr;
}

SimulatedAudioSystem::SimulatedAudioSystem(bool realTime)
    : state_(std::make_shared<State>(realTime)) {}

SimulatedAudioSystem::~SimulatedAudioSystem() = default;

void SimulatedAudioSystem::addEndpoint(SimulatedEndpoint setup) {
    std::lock_guard lock(state_->mutex);
    auto endpoint = std::make_unique<Endpoint>();
    const double nominal = setup.mixFormat.format.samplesPerSec;
    endpoint->clockScale = setup.trueRate > 0.0 && nominal > 0.0 ? setup.trueRate / nominal : 1.0;
    endpoint->setup = std::move(setup);
    state_->endpoints.push_back(std::move(endpoint));
}

void SimulatedAudioSystem::removeEndpoint(const std::string& id) {
    std::lock_guard lock(state_->mutex);
    state_->endpoints.remove_if([&](const auto& endpoint) { return endpoint->setup.id == id; });
}

void SimulatedAudioSystem::failCall(const std::string& id, SimulatedCall call, int nth,
                                    Hresult result, double delaySeconds) {
    std::lock_guard lock(state_->mutex);
    state_->plans[{id, call}].push_back(Plan{nth, result, delaySeconds});
}

int SimulatedAudioSystem::callCount(const std::string& id, SimulatedCall call) const {
    std::lock_guard lock(state_->mutex);
    const auto found = state_->counts.find({id, call});
    return found == state_->counts.end() ? 0 : found->second;
}

void SimulatedAudioSystem::advance(double seconds) {
    std::unique_lock lock(state_->mutex);
    state_->sleepFor(lock, seconds);
}

double SimulatedAudioSystem::seconds() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<double>(state_->now()) / kTicksPerSecond;
}

Hresult SimulatedAudioSystem::enterApartment() {
    std::unique_lock lock(state_->mutex);
    return state_->planned(lock, "", SimulatedCall::EnterApartment);
}

void SimulatedAudioSystem::leaveApartment() {}

SystemEvent SimulatedAudioSystem::createEvent(bool manualReset) {
    std::unique_lock lock(state_->mutex);
    if (hresultFailed(state_->planned(lock, "", SimulatedCall::CreateEvent))) {
        return nullptr;
    }
    auto event = std::make_unique<EventRecord>();
    event->manualReset = manualReset;
    event->serial = state_->nextSerial++;
    EventRecord* handle = event.get();
    state_->events.emplace(handle, std::move(event));
    return handle;
}

void SimulatedAudioSystem::setEvent(SystemEvent event) {
    std::lock_guard lock(state_->mutex);
    static_cast<EventRecord*>(event)->signalled = true;
    if (state_->realTime) {
        state_->wake.notify_all();
    }
}

void SimulatedAudioSystem::closeEvent(SystemEvent event) {
    std::lock_guard lock(state_->mutex);
    auto* record = static_cast<EventRecord*>(event);
    if (record->stream != nullptr) {
        unbindEvent(*record->stream);
    }
    state_->events.erase(record);
}

WaitResult SimulatedAudioSystem::waitForEvent(SystemEvent event, std::uint32_t timeoutMs) {
    std::unique_lock lock(state_->mutex);
    const Ticks deadline =
        timeoutMs == kWaitForever ? kForever : state_->now() + Ticks{timeoutMs} * 10000;
    return state_->blockUntil(lock, static_cast<EventRecord*>(event), deadline);
}

void SimulatedAudioSystem::sleepOneMillisecond() {
    std::unique_lock lock(state_->mutex);
    state_->sleepFor(lock, 0.001);
}

Hresult SimulatedAudioSystem::enterProAudioTask(ProAudioTask& task) {
    std::unique_lock lock(state_->mutex);
    const Hresult result = state_->planned(lock, "", SimulatedCall::EnterProAudioTask);
    task = hresultFailed(result) ? nullptr : this;
    return result;
}

void SimulatedAudioSystem::leaveProAudioTask(ProAudioTask) {}

std::thread SimulatedAudioSystem::startThread(std::function<void()> body) {
    {
        std::lock_guard lock(state_->mutex);
        ++state_->active;
    }
    return std::thread([state = state_, body = std::move(body)] {
        body();
        std::lock_guard lock(state->mutex);
        --state->active;
        if (!state->realTime && state->active == 0) {
            state->scheduleNext();
        }
    });
}

void SimulatedAudioSystem::joinThread(std::thread& thread) {
    {
        std::lock_guard lock(state_->mutex);
        --state_->active;
        if (!state_->realTime && state_->active == 0) {
            state_->scheduleNext();
        }
    }
    thread.join();
    std::lock_guard lock(state_->mutex);
    ++state_->active;
}

} // namespace velkaphon::rack
