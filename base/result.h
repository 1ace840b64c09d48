#pragma once

// Every fallible operation returns one of these; the front end hands it back
// unchanged as the process's exit status (its low eight bits). They are the
// negated Linux error numbers EPERM, ENOENT, EIO, EFAULT, EINVAL and EPROTO.
inline constexpr int kResultOk = 0;
inline constexpr int kResultNotPermitted = -1;
inline constexpr int kResultNoEntry = -2;
inline constexpr int kResultIo = -5;
inline constexpr int kResultFault = -14;
inline constexpr int kResultInvalid = -22;
inline constexpr int kResultProtocol = -71;

// The guard timer ends the process directly with this status.
inline constexpr int kExitGuardTimeout = 2;
