#include "base/event_text.h"

#include <exception>

#include "base/debug_log.h"

kiv::EventText gEventText;

namespace kiv {

EventText::EventText(std::size_t capacity) : mCapacity(capacity) {}

void EventText::append(const std::string& item)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mItems.push_back(item);
        mSize += item.size();
        while (mSize > mCapacity && mItems.size() > 1) {
            mSize -= mItems.front().size();
            mItems.pop_front();
            ++mDropped;
        }
    }
    if (!mHasObserver.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(mObserverMutex);
    if (mObserver)
        mObserver();
}

void EventText::setAppendObserver(std::function<void()> observer)
{
    std::lock_guard<std::mutex> lock(mObserverMutex);
    mObserver = std::move(observer);
    mHasObserver.store(static_cast<bool>(mObserver), std::memory_order_release);
}

std::string EventText::take()
{
    std::deque<std::string> items;
    std::size_t dropped = 0;
    std::size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        items.swap(mItems);
        dropped = mDropped;
        size = mSize;
        mDropped = 0;
        mSize = 0;
    }
    std::string text;
    if (dropped > 0)
        text = formatString("\r EventText= %zu older items dropped\r", dropped);
    text.reserve(text.size() + size);
    for (const std::string& item : items)
        text += item;
    return text;
}

void appendExceptionEvent(const std::string& message)
{
    gEventText.append("\r KivServer= " + message + "\r");
}

std::string currentExceptionReason()
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return std::string();
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown exception";
    }
}

namespace {

std::string exceptionMessage(const char* classAndMethod, const std::string& reason)
{
    return reason.empty() ? formatString("*** EXCEPTION  %s\n", classAndMethod)
                          : formatString("*** EXCEPTION  %s [%s]\n", classAndMethod, reason.c_str());
}

}  // namespace

void reportException(const char* classAndMethod, LogLevel level)
{
    const std::string message = exceptionMessage(classAndMethod, currentExceptionReason());
    logAt(level, "%s", message.c_str());
    appendExceptionEvent(message);
}

void reportRepeatedException(RepeatedWarning& repeats, const char* classAndMethod, bool eventWhenWritten)
{
    const std::string reason = currentExceptionReason();
    const std::string message = exceptionMessage(classAndMethod, reason);
    const bool held = !repeats.failed(reason, RepeatedWarning::Clock::now());
    logRepeat(LogLevel::warning, held, "%s", message.c_str());
    if (!held || !eventWhenWritten)
        appendExceptionEvent(message);
}

std::vector<std::string> splitEventText(const std::string& text)
{
    std::vector<std::string> pieces;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t end = text.find('\r', position);
        if (end == std::string::npos)
            break;
        if (end - position > 1)
            pieces.push_back(text.substr(position, end - position));
        position = end + 1;
    }
    return pieces;
}

}  // namespace kiv
