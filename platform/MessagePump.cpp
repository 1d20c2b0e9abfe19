#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <exception>
#include <thread>
#include <vector>

namespace quillet {

namespace {
TMessagePump* g_pump = nullptr;
} // namespace

TMessagePump* CurrentMessagePump() {
    return g_pump;
}

void SetMessagePump(TMessagePump* pump) {
    g_pump = pump;
}

void RunWhilePumping(std::function<void()> work) {
    TMessagePump* pump = g_pump;
    std::atomic<bool> finished{false};
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception(); // read only after the join
        }
        finished.store(true, std::memory_order_release);
        if (pump)
            pump->Wake();
    });
    if (pump)
        pump->Run([&] { return finished.load(std::memory_order_acquire); });
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

struct TQtMessagePump::Impl {
    QObject context;                // lives on the UI thread; queued wake-ups run there
    std::vector<QEventLoop*> loops; // innermost last
};

TQtMessagePump::TQtMessagePump() : m_impl(new Impl) {}

TQtMessagePump::~TQtMessagePump() {
    delete m_impl;
}

void TQtMessagePump::Run(const std::function<bool()>& done) {
    QEventLoop loop;
    m_impl->loops.push_back(&loop);
    while (!done())
        loop.exec();
    m_impl->loops.pop_back();
}

void TQtMessagePump::Wake() {
    // Quit every waiting loop: each checks its own condition and waits again when it is not
    // met; an outer loop returns only after the inner ones have.
    QMetaObject::invokeMethod(
        &m_impl->context,
        [impl = m_impl] {
            for (QEventLoop* loop : impl->loops)
                loop->quit();
        },
        Qt::QueuedConnection);
}

} // namespace quillet
