#pragma once

#include <atomic>
#include <functional>

namespace quillet {

// What the UI thread does while it waits for a worker: a GUI installs a pump that keeps its
// event loop dispatching (timers, input, painting); headless programs install none and the
// waiting thread simply blocks.
class TMessagePump {
public:
    virtual ~TMessagePump() = default;

    // Dispatches events until done() is true. Returns only then; calls may nest (a handler run
    // inside may start its own wait, which returns first).
    virtual void Run(const std::function<bool()>& done) = 0;

    // Called from any thread after a done() condition has become true; wakes Run.
    virtual void Wake() = 0;
};

// The installed pump, or nullptr. Not owned.
TMessagePump* CurrentMessagePump();
void SetMessagePump(TMessagePump* pump);

// Runs work on a new thread and returns when it has finished (rethrowing what it threw),
// keeping the installed pump dispatching meanwhile. The finished flag is the only value both
// threads touch while both run.
void RunWhilePumping(std::function<void()> work);

// A pump over the Qt event loop of the calling thread (QtCore only): it blocks on events,
// never polls. Needs a QCoreApplication (or QApplication).
class TQtMessagePump : public TMessagePump {
public:
    TQtMessagePump();
    ~TQtMessagePump() override;
    void Run(const std::function<bool()>& done) override;
    void Wake() override;

private:
    struct Impl;
    Impl* m_impl;
};

} // namespace quillet
