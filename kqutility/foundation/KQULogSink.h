// Where log lines go. By default each message is written to stderr as one line,
// "2026-12-06 11:02:40.123 kqu[pid:tid] message". The host application (or a test) can
// install its own sink; the sink receives the message without the prefix and is called
// under a lock, so it never sees two messages interleaved.
#pragma once

#include <functional>
#include <string_view>

namespace kqu {

using KQULogSink = std::function<void(std::string_view message)>;

// Delivers one message to the current sink.
void KQULogMessage(std::string_view message);
// Installs sink (an empty function restores the stderr sink) and returns the previous one.
KQULogSink KQUSetLogSink(KQULogSink sink);
// The stderr line for a message, as the default sink writes it (without the newline).
std::string KQUFormatLogLine(std::string_view message);

}  // namespace kqu
