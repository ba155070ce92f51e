#pragma once
// The general error display: every event handler of the window runs through
// runHandler(), which catches what the handler throws and shows it in an error
// box captioned with the application's title. Nothing thrown by a handler ever
// reaches Qt's event loop; whatever the handler changed before the error stays
// changed and the program goes on.
#include <QObject>
#include <QString>

#include <concepts>
#include <exception>
#include <utility>

namespace signetrix {

// The text as the error box shows it: a full stop is added when the last
// character sorts after '.', so "... Signetrix.ini" gains one and "...!" or
// "...)" do not.
QString errorDisplayText(const QString& message);

// Shows message in the application's error box.
void showError(const QString& message);

// Shows the exception in flight; call only inside a catch block.
void showCurrentException() noexcept;

template <typename Body>
void runHandler(Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (...) {
        showCurrentException();
    }
}

// A slot wrapper that runs the slot inside runHandler(). It accepts exactly
// the argument lists the slot accepts, so Qt hands it only the signal
// arguments the slot wants.
template <typename Slot>
struct GuardedSlot {
    Slot slot;
    template <typename... Args>
        requires std::invocable<Slot&, Args...>
    void operator()(Args&&... args)
    {
        runHandler([&] { slot(std::forward<Args>(args)...); });
    }
};

// connect() whose slot runs inside runHandler().
template <typename Sender, typename Signal, typename Slot>
QMetaObject::Connection connectHandler(Sender* sender, Signal signal, QObject* context, Slot slot)
{
    return QObject::connect(sender, signal, context, GuardedSlot<Slot>{std::move(slot)});
}

} // namespace signetrix
