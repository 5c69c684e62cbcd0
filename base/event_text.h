// The process-wide event text: service objects append short items that start
// with "\r " and a label; the dialog takes the whole text and empties it.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "base/repeated_warning.h"

namespace kiv {

class EventText
{
public:
    // Appended items are kept whole; once more than `capacity` bytes wait for
    // a take, the oldest are dropped and one item says how many.
    explicit EventText(std::size_t capacity = kDefaultCapacity);
    EventText(const EventText&) = delete;
    EventText& operator=(const EventText&) = delete;

    void append(const std::string& item);
    std::string take();

    // Called after each append, on the appending thread, outside the lock
    // of the items (the view channel wakes its worker with it). It must not
    // append itself. Once setAppendObserver returns, the observer it replaced
    // is neither running nor called again. Empty: none.
    void setAppendObserver(std::function<void()> observer);

    static constexpr std::size_t kDefaultCapacity = 64 * 1024;

private:
    mutable std::mutex mMutex;
    std::deque<std::string> mItems;
    std::size_t mSize = 0;
    std::size_t mDropped = 0;
    std::size_t mCapacity;
    // Held while the observer runs, so that replacing it waits for the call.
    std::mutex mObserverMutex;
    std::function<void()> mObserver;
    std::atomic<bool> mHasObserver{false};
};

// The items of an event text as the dialog lists them: the pieces between
// carriage returns that are longer than one character; the text after the
// last carriage return is dropped.
std::vector<std::string> splitEventText(const std::string& text);

// Appends "\r KivServer= " + message + "\r": the record every catch-all
// handler leaves for the dialog.
void appendExceptionEvent(const std::string& message);

// The reason of the exception being handled, as its what() says it; empty
// outside a handler.
std::string currentExceptionReason();

// Logs the "*** EXCEPTION  Class::method\n" line (a warning; `level` where
// the failure is fatal) and records it as an event. Called inside an
// exception handler, the line ends with the exception's reason in brackets:
// "*** EXCEPTION  Class::method [send_to: ...]\n".
void reportException(const char* classAndMethod, LogLevel level = LogLevel::warning);

// The same for a failure that repeats while its cause lasts (a send to a
// server that stays unreachable): the line follows `repeats`' rule, the
// event is recorded every time, or with `eventWhenWritten` only with the
// line (a bind retried every 30 s).
void reportRepeatedException(RepeatedWarning& repeats, const char* classAndMethod, bool eventWhenWritten = false);

}  // namespace kiv

extern kiv::EventText gEventText;
