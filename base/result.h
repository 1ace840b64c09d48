#pragma once

// How results come back, everywhere in the program:
// - A command, and every step whose failure becomes the exit status, returns
//   a result code: kResultOk or one of the negative codes below, which the
//   front end hands back unchanged as the process's exit status (its low
//   eight bits).
// - A step whose caller only needs to know whether it worked returns bool,
//   true when it did; the step itself reports what went wrong, where there
//   is anything to say.
// - A value comes back as the return value: std::optional when it may be
//   missing, an invalid UniqueFd for a descriptor that could not be had, a
//   plain struct when it has several parts. Nothing is returned through a
//   parameter; a parameter passed by reference is the record or buffer that
//   the function is there to fill.
//
// The codes are the negated Linux error numbers EPERM, ENOENT, EIO, EFAULT,
// EINVAL and EPROTO.
inline constexpr int kResultOk = 0;
inline constexpr int kResultNotPermitted = -1;
inline constexpr int kResultNoEntry = -2;
inline constexpr int kResultIo = -5;
inline constexpr int kResultFault = -14;
inline constexpr int kResultInvalid = -22;
inline constexpr int kResultProtocol = -71;

// The guard timer ends the process directly with this status.
inline constexpr int kExitGuardTimeout = 2;
