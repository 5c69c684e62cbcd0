// Whether the dialog's window system answers, asked before the windowing
// library is started: the program then starts its service while the
// library starts, instead of after it.
#pragma once

namespace kiv::qt {

// True only when the dialog will open on the X display and that display
// accepts a connection now. False when another window system is chosen or
// the choice is unclear, and when no display answers: the program then
// waits for the windowing library to decide.
bool xDisplayAnswers();

}  // namespace kiv::qt
