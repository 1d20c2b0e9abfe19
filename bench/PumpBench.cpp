// The share of a 5 ms timer's ticks that still arrive while the UI thread waits for a slow
// request through the message pump. Prints "ticks=N expected=M ratio=R".
#include "ScriptedServer.h"
#include "net/web_connect.h"
#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    quillet::TQtMessagePump pump;
    quillet::SetMessagePump(&pump);

    quillet::test::ScriptedServer server;
    server.Push(
        {.status = 200, .body = "<reply><ok type=\"str\">yes</ok></reply>", .delayMs = 2000});

    constexpr int kIntervalMs = 5;
    long ticks = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kIntervalMs);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });

    std::string reply;
    double elapsedMs = 0;
    QTimer::singleShot(0, [&] {
        timer.start();
        const auto started = std::chrono::steady_clock::now();
        reply = quillet::RequestText(server.Url("/slow"));
        elapsedMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count();
        timer.stop();
        app.quit();
    });
    app.exec();
    quillet::SetMessagePump(nullptr);

    if (reply.find("yes") == std::string::npos) {
        std::fprintf(stderr, "bench_pump: the slow request got no reply\n");
        return 1;
    }
    const double expected = elapsedMs / kIntervalMs;
    std::printf("ticks=%ld expected=%.0f elapsed_ms=%.0f ratio=%.3f\n", ticks, expected, elapsedMs,
                ticks / expected);
    return 0;
}
