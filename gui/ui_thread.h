#pragma once
// Calls from a worker thread into the widgets. Every change of a widget runs
// on the thread that owns it; a worker waits until that thread has handled
// the call, as it would for a sent window message, so that what it shows
// has taken effect when the call returns.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>
#include <utility>

namespace tarnwick::gui {

// Runs fn on the thread of context and returns its result. On that thread
// itself fn runs at once.
template <typename Fn>
auto CallOnThreadOf(QObject* context, Fn&& fn) -> std::invoke_result_t<Fn&> {
    using R = std::invoke_result_t<Fn&>;
    if (QThread::currentThread() == context->thread()) return fn();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(
            context, [&result, &fn] { result = fn(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// Queues fn for the thread of context without waiting.
template <typename Fn>
void PostToThreadOf(QObject* context, Fn&& fn) {
    QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::QueuedConnection);
}

}  // namespace tarnwick::gui
