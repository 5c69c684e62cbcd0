// How the dialogs show text that came from the network (beacon names and
// locations, ping targets, cloud events): bytes that are valid UTF-8 are
// shown as UTF-8, any other bytes as Windows-1252, which is what a Windows
// station's code page shows for them. For display only: what is sent and
// what is logged keeps its bytes.
#pragma once

#include <string>

namespace kiv {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). Empty and plain ASCII text are.
bool isValidUtf8(const std::string& bytes);

// The text to show for `bytes`, always as UTF-8: `bytes` unchanged when
// they are valid UTF-8, else each byte read as Windows-1252 (its five
// unassigned bytes as the control characters Windows maps them to).
std::string displayText(const std::string& bytes);

}  // namespace kiv
