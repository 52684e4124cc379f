#pragma once
// Who is running: the calling thread, the process's user and the executable's location.
//
// Thread safety: every function may be called from any thread.

#include <cstdint>
#include <string>

namespace brimora::platform {

// The kernel's id of the calling thread; never 0, so 0 can stand for "no thread".
std::uint32_t CurrentThreadId();

// Sets `name` to the account name of the user `id`. Returns false, leaving `name` unchanged,
// when that id has no account name.
bool AccountName(std::uint32_t id, std::string& name);

// Sets `name` to the account name of the effective user id. Returns false, leaving `name`
// unchanged, when that id has no account name.
bool ProcessUserName(std::string& name);

// The effective user id of the process.
std::uint32_t EffectiveUserId();

// The machine's host name; empty when it cannot be read.
std::string HostName();

// Absolute path of the running executable (from /proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();

}  // namespace brimora::platform
