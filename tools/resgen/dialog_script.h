// The main dialog as a resource-script DIALOG block, written from the
// control table in shell/dialog_template.cpp so the Windows dialog and the
// table cannot drift apart.
#pragma once

#include <string>

namespace kiv {

// The text of dialog107.rc: a classic DIALOG template (not DIALOGEX) with
// the dialog's style, caption and font and one CONTROL line per control in
// table order. Needs <windows.h> (or winresrc.h) for the style names.
std::string mainDialogScript();

// A resource-script string literal: quotes doubled, the text in quotes.
std::string rcStringLiteral(const std::string& text);

}  // namespace kiv
