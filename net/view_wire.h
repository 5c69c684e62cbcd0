// The view channel's messages: what the service tells the dialogs and
// terminal views attached to it, and the one thing they may ask of it.
// Portable and free of sockets; docs/view-channel.md describes the format.
//
// Every message is a frame: a 4-byte big-endian length, then that many bytes
// of body (1 to kMaxBodyBytes). The body's first byte is the message type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::view {

constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kMaxBodyBytes = 64 * 1024;
constexpr int kSlotCount = 3;
// A new viewer gets the state and at most this many of the latest events.
constexpr std::size_t kRecentEvents = 100;
// An event item longer than this is cut to it (it still fits a frame).
constexpr std::size_t kMaxEventBytes = 16 * 1024;
// A text field of the state longer than this is cut to it: the whole state
// always fits one frame.
constexpr std::size_t kMaxFieldBytes = 4 * 1024;

enum class MessageType : std::uint8_t {
    hello = 1,          // both ways, first: "VARNVIEW" and the version
    refusal = 2,        // service to viewer, then the service closes
    state = 3,          // service to viewer: fields of the state
    event = 4,          // service to viewer: one event item
    setPingTarget = 5,  // viewer to service: an IPv4 address
};

enum class Refusal : std::uint8_t {
    version = 1,      // the viewer speaks another version
    tooManyViewers = 2,
    malformed = 3,    // what the viewer sent could not be read
};

// A beacon slot as the service's record holds it.
struct SlotState {
    std::string address;
    std::string name;
    std::string location;
    std::int32_t messageCount = 0;
    std::int32_t missedTicks = 0;
    std::string pingTarget;
    std::int32_t pingTargetHealth = -1;

    bool operator==(const SlotState& other) const;
    bool operator!=(const SlotState& other) const { return !(*this == other); }
};

// Everything a view shows that is not an event item.
struct ViewState {
    std::array<SlotState, kSlotCount> slots;
    std::string cpuText;
    std::string osDescription;
    std::string hostName;
    std::string localIpInCommon;

    bool operator==(const ViewState& other) const;
    bool operator!=(const ViewState& other) const { return !(*this == other); }
};

// One decoded frame: its type byte and the body after it.
struct Message {
    std::uint8_t type = 0;
    std::string body;
};

// ---- Writing: each returns one whole frame ---------------------------------

std::string encodeHello(std::uint16_t version = kVersion);
std::string encodeRefusal(Refusal reason, const std::string& text);
// The fields of `now` that differ from `before`; every field without
// `before`. Empty when nothing differs: nothing to send.
std::string encodeState(const ViewState& now, const ViewState* before);
std::string encodeEvent(const std::string& item);
std::string encodeSetPingTarget(std::uint32_t address);

// ---- Reading ---------------------------------------------------------------

// Cuts a byte stream into frames. Bytes go in as they arrive; whole frames
// come out. A length of 0 or over kMaxBodyBytes is a broken stream: the
// reader stops there for good.
class FrameReader
{
public:
    void feed(const char* data, std::size_t size);
    // The next whole frame, if one is there.
    std::optional<Message> next();
    bool broken() const { return mBroken; }
    // Bytes waiting that do not make a whole frame yet.
    std::size_t pending() const { return mBuffer.size() - mOffset; }

private:
    std::string mBuffer;
    std::size_t mOffset = 0;
    bool mBroken = false;
};

// The version a hello names; nullopt when the body is not a hello.
std::optional<std::uint16_t> decodeHello(const std::string& body);
struct RefusalMessage {
    Refusal reason = Refusal::malformed;
    std::string text;
};
std::optional<RefusalMessage> decodeRefusal(const std::string& body);
// Applies a state message's fields to `state`; false (and `state` as it
// was) when the body is malformed.
bool applyState(const std::string& body, ViewState& state);
std::optional<std::string> decodeEvent(const std::string& body);
std::optional<std::uint32_t> decodeSetPingTarget(const std::string& body);

}  // namespace kiv::view
