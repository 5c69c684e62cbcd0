// The view channel's decoder, which reads every byte a viewer (or, for the
// client, the service) sends. Input: a byte stream, fed to the frame reader
// in pieces whose sizes the stream's first byte chooses; every frame goes
// through every decoder, and the states it carries are applied in turn.
#include <algorithm>

#include "fuzz_support.h"
#include "net/view_wire.h"

namespace {

using namespace kiv::view;
using kiv::fuzz::quoted;

bool textsFit(const ViewState& s)
{
    bool fit = s.cpuText.size() <= kMaxFieldBytes && s.osDescription.size() <= kMaxFieldBytes &&
               s.hostName.size() <= kMaxFieldBytes && s.localIpInCommon.size() <= kMaxFieldBytes;
    for (const SlotState& slot : s.slots)
        fit = fit && slot.address.size() <= kMaxFieldBytes && slot.name.size() <= kMaxFieldBytes &&
              slot.location.size() <= kMaxFieldBytes && slot.pingTarget.size() <= kMaxFieldBytes;
    return fit;
}

// The body of a frame the encoders made.
std::string bodyOf(const std::string& frame)
{
    return frame.substr(kHeaderBytes);
}

void checkFrame(const Message& m, ViewState& state)
{
    VARN_FUZZ_CHECK(!m.body.empty() && m.body.size() <= kMaxBodyBytes, quoted(m.body));
    VARN_FUZZ_CHECK(static_cast<std::uint8_t>(m.body[0]) == m.type, quoted(m.body));
    if (const std::optional<std::uint16_t> version = decodeHello(m.body))
        VARN_FUZZ_CHECK(bodyOf(encodeHello(*version)) == m.body, quoted(m.body));
    if (const std::optional<RefusalMessage> refusal = decodeRefusal(m.body); refusal && refusal->text.size() <= kMaxFieldBytes)
        VARN_FUZZ_CHECK(bodyOf(encodeRefusal(refusal->reason, refusal->text)) == m.body, quoted(m.body));
    if (const std::optional<std::string> event = decodeEvent(m.body); event && event->size() <= kMaxEventBytes)
        VARN_FUZZ_CHECK(bodyOf(encodeEvent(*event)) == m.body, quoted(m.body));
    if (const std::optional<std::uint32_t> address = decodeSetPingTarget(m.body))
        VARN_FUZZ_CHECK(bodyOf(encodeSetPingTarget(*address)) == m.body, quoted(m.body));

    const ViewState before = state;
    if (!applyState(m.body, state)) {
        VARN_FUZZ_CHECK(state == before, "a failed state message changed the state: " + quoted(m.body));
        return;
    }
    if (!textsFit(state) || !textsFit(before))
        return;
    ViewState whole;
    VARN_FUZZ_CHECK(applyState(bodyOf(encodeState(state, nullptr)), whole) && whole == state,
                    "the whole state does not come back: " + quoted(m.body));
    const std::string delta = encodeState(state, &before);
    VARN_FUZZ_CHECK(delta.empty() == (state == before), quoted(m.body));
    ViewState next = before;
    VARN_FUZZ_CHECK(delta.empty() || (applyState(bodyOf(delta), next) && next == state),
                    "the delta does not lead to the state: " + quoted(m.body));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    std::size_t left = size - 1;
    FrameReader reader;
    ViewState state;
    while (left > 0 || reader.pending() > 0) {
        const std::size_t n = std::min(piece, left);
        reader.feed(bytes, n);
        bytes += n;
        left -= n;
        while (std::optional<Message> m = reader.next())
            checkFrame(*m, state);
        if (reader.broken() || n == 0)
            break;
        VARN_FUZZ_CHECK(reader.pending() < kHeaderBytes + kMaxBodyBytes, "a whole frame left waiting");
    }
    return 0;
}
