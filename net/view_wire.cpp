#include "net/view_wire.h"

#include <algorithm>
#include <cstring>

namespace kiv::view {

namespace {

constexpr char kMagic[] = "VARNVIEW";
constexpr std::size_t kMagicBytes = sizeof kMagic - 1;

// Field ids of a state message. The slot fields are kSlotFieldBase * (slot + 1)
// plus the field's own number.
enum Field : std::uint8_t {
    cpuText = 1,
    osDescription = 2,
    hostName = 3,
    localIpInCommon = 4,
};
enum SlotField : std::uint8_t {
    address = 0,
    name = 1,
    location = 2,
    messageCount = 3,
    missedTicks = 4,
    pingTarget = 5,
    pingTargetHealth = 6,
    slotFieldCount = 7,
};
constexpr std::uint8_t kSlotFieldBase = 16;

void putUint16(std::string& out, std::uint16_t value)
{
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xff));
}

void putUint32(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

std::uint32_t getUint32(const std::string& in, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
}

std::uint16_t getUint16(const std::string& in, std::size_t at)
{
    return static_cast<std::uint16_t>((static_cast<unsigned char>(in[at]) << 8) |
                                      static_cast<unsigned char>(in[at + 1]));
}

std::string frame(MessageType type, const std::string& rest)
{
    std::string out;
    out.reserve(kHeaderBytes + 1 + rest.size());
    putUint32(out, static_cast<std::uint32_t>(rest.size() + 1));
    out.push_back(static_cast<char>(type));
    out += rest;
    return out;
}

void putText(std::string& out, std::uint8_t field, const std::string& value)
{
    const std::size_t size = std::min(value.size(), kMaxFieldBytes);
    out.push_back(static_cast<char>(field));
    putUint16(out, static_cast<std::uint16_t>(size));
    out.append(value, 0, size);
}

void putNumber(std::string& out, std::uint8_t field, std::int32_t value)
{
    out.push_back(static_cast<char>(field));
    putUint16(out, 4);
    putUint32(out, static_cast<std::uint32_t>(value));
}

template <typename T>
bool differs(const ViewState* before, T ViewState::*member, const ViewState& now)
{
    return before == nullptr || before->*member != now.*member;
}

bool setText(std::string& target, const std::string& value)
{
    target = value;
    return true;
}

bool setNumber(std::int32_t& target, const std::string& value)
{
    if (value.size() != 4)
        return false;
    target = static_cast<std::int32_t>(getUint32(value, 0));
    return true;
}

bool applyField(ViewState& state, std::uint8_t field, const std::string& value)
{
    switch (field) {
    case cpuText:
        return setText(state.cpuText, value);
    case osDescription:
        return setText(state.osDescription, value);
    case hostName:
        return setText(state.hostName, value);
    case localIpInCommon:
        return setText(state.localIpInCommon, value);
    default:
        break;
    }
    if (field < kSlotFieldBase)
        return false;
    const int slot = field / kSlotFieldBase - 1;
    const int which = field % kSlotFieldBase;
    if (slot >= kSlotCount || which >= slotFieldCount)
        return false;
    SlotState& s = state.slots[static_cast<std::size_t>(slot)];
    switch (which) {
    case address:
        return setText(s.address, value);
    case name:
        return setText(s.name, value);
    case location:
        return setText(s.location, value);
    case messageCount:
        return setNumber(s.messageCount, value);
    case missedTicks:
        return setNumber(s.missedTicks, value);
    case pingTarget:
        return setText(s.pingTarget, value);
    case pingTargetHealth:
        return setNumber(s.pingTargetHealth, value);
    default:
        return false;
    }
}

std::optional<std::string> bodyOf(const std::string& body, MessageType type)
{
    if (body.empty() || static_cast<std::uint8_t>(body[0]) != static_cast<std::uint8_t>(type))
        return std::nullopt;
    return body.substr(1);
}

}  // namespace

bool SlotState::operator==(const SlotState& o) const
{
    return address == o.address && name == o.name && location == o.location &&
           messageCount == o.messageCount && missedTicks == o.missedTicks && pingTarget == o.pingTarget &&
           pingTargetHealth == o.pingTargetHealth;
}

bool ViewState::operator==(const ViewState& o) const
{
    return slots == o.slots && cpuText == o.cpuText && osDescription == o.osDescription &&
           hostName == o.hostName && localIpInCommon == o.localIpInCommon;
}

std::string encodeHello(std::uint16_t version)
{
    std::string rest(kMagic, kMagicBytes);
    putUint16(rest, version);
    return frame(MessageType::hello, rest);
}

std::string encodeRefusal(Refusal reason, const std::string& text)
{
    std::string rest(1, static_cast<char>(reason));
    rest.append(text, 0, std::min(text.size(), kMaxFieldBytes));
    return frame(MessageType::refusal, rest);
}

std::string encodeState(const ViewState& now, const ViewState* before)
{
    std::string rest;
    if (differs(before, &ViewState::cpuText, now))
        putText(rest, cpuText, now.cpuText);
    if (differs(before, &ViewState::osDescription, now))
        putText(rest, osDescription, now.osDescription);
    if (differs(before, &ViewState::hostName, now))
        putText(rest, hostName, now.hostName);
    if (differs(before, &ViewState::localIpInCommon, now))
        putText(rest, localIpInCommon, now.localIpInCommon);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotState& s = now.slots[static_cast<std::size_t>(slot)];
        const SlotState* b = before != nullptr ? &before->slots[static_cast<std::size_t>(slot)] : nullptr;
        const auto id = [slot](int field) {
            return static_cast<std::uint8_t>(kSlotFieldBase * (slot + 1) + field);
        };
        if (b == nullptr || b->address != s.address)
            putText(rest, id(address), s.address);
        if (b == nullptr || b->name != s.name)
            putText(rest, id(name), s.name);
        if (b == nullptr || b->location != s.location)
            putText(rest, id(location), s.location);
        if (b == nullptr || b->messageCount != s.messageCount)
            putNumber(rest, id(messageCount), s.messageCount);
        if (b == nullptr || b->missedTicks != s.missedTicks)
            putNumber(rest, id(missedTicks), s.missedTicks);
        if (b == nullptr || b->pingTarget != s.pingTarget)
            putText(rest, id(pingTarget), s.pingTarget);
        if (b == nullptr || b->pingTargetHealth != s.pingTargetHealth)
            putNumber(rest, id(pingTargetHealth), s.pingTargetHealth);
    }
    if (rest.empty() && before != nullptr)
        return std::string();
    return frame(MessageType::state, rest);
}

std::string encodeEvent(const std::string& item)
{
    return frame(MessageType::event, item.substr(0, kMaxEventBytes));
}

std::string encodeSetPingTarget(std::uint32_t address)
{
    std::string rest;
    putUint32(rest, address);
    return frame(MessageType::setPingTarget, rest);
}

void FrameReader::feed(const char* data, std::size_t size)
{
    if (mBroken)
        return;
    // What was read already goes before the buffer grows.
    if (mOffset > 0 && mOffset >= mBuffer.size() / 2) {
        mBuffer.erase(0, mOffset);
        mOffset = 0;
    }
    mBuffer.append(data, size);
}

std::optional<Message> FrameReader::next()
{
    if (mBroken || pending() < kHeaderBytes)
        return std::nullopt;
    const std::uint32_t length = getUint32(mBuffer, mOffset);
    if (length == 0 || length > kMaxBodyBytes) {
        mBroken = true;
        return std::nullopt;
    }
    if (pending() < kHeaderBytes + length)
        return std::nullopt;
    Message message;
    message.type = static_cast<std::uint8_t>(mBuffer[mOffset + kHeaderBytes]);
    message.body = mBuffer.substr(mOffset + kHeaderBytes, length);
    mOffset += kHeaderBytes + length;
    if (mOffset == mBuffer.size()) {
        mBuffer.clear();
        mOffset = 0;
    }
    return message;
}

std::optional<std::uint16_t> decodeHello(const std::string& body)
{
    const std::optional<std::string> rest = bodyOf(body, MessageType::hello);
    if (!rest || rest->size() != kMagicBytes + 2 || rest->compare(0, kMagicBytes, kMagic) != 0)
        return std::nullopt;
    return getUint16(*rest, kMagicBytes);
}

std::optional<RefusalMessage> decodeRefusal(const std::string& body)
{
    const std::optional<std::string> rest = bodyOf(body, MessageType::refusal);
    if (!rest || rest->empty())
        return std::nullopt;
    RefusalMessage refusal;
    refusal.reason = static_cast<Refusal>(static_cast<std::uint8_t>((*rest)[0]));
    refusal.text = rest->substr(1);
    return refusal;
}

bool applyState(const std::string& body, ViewState& state)
{
    const std::optional<std::string> rest = bodyOf(body, MessageType::state);
    if (!rest)
        return false;
    ViewState next = state;
    std::size_t at = 0;
    while (at < rest->size()) {
        if (rest->size() - at < 3)
            return false;
        const auto field = static_cast<std::uint8_t>((*rest)[at]);
        const std::size_t size = getUint16(*rest, at + 1);
        at += 3;
        if (rest->size() - at < size)
            return false;
        if (!applyField(next, field, rest->substr(at, size)))
            return false;
        at += size;
    }
    state = std::move(next);
    return true;
}

std::optional<std::string> decodeEvent(const std::string& body)
{
    return bodyOf(body, MessageType::event);
}

std::optional<std::uint32_t> decodeSetPingTarget(const std::string& body)
{
    const std::optional<std::string> rest = bodyOf(body, MessageType::setPingTarget);
    if (!rest || rest->size() != 4)
        return std::nullopt;
    return getUint32(*rest, 0);
}

}  // namespace kiv::view
