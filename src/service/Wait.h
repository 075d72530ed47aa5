// The one way the agent waits for something on the thread it runs on.
#pragma once

#include <QEventLoop>
#include <QObject>

// Handles this thread's events until `sender` emits `signal`. User input waits meanwhile: the
// window paints, but no click or key can start another call inside this one.
// A report tick never runs in here: the courier has a thread of its own.
template <typename Sender, typename Signal> void WaitFor(const Sender* sender, Signal signal)
{
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
