#pragma once
// Whether the tool's standard error is a terminal a person watches, and how wide it is.
//
// Thread safety: every function may be called from any thread.

namespace brimora::platform {

bool StandardErrorIsTerminal();

// The terminal's width in columns, or 0 when standard error is no terminal or does not say.
int StandardErrorColumns();

}  // namespace brimora::platform
