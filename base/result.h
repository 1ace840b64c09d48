#pragma once

// How results come back, everywhere in the program:
// - A command, and every step whose failure becomes the exit status, returns
//   a Result, which the front end hands back unchanged as the process's exit
//   status (its low eight bits). The compiler refuses a Result left unread;
//   a caller that has no use for one says why where it drops it.
// - A step whose caller only needs to know whether it worked returns bool,
//   true when it did; the step itself reports what went wrong, where there
//   is anything to say.
// - A value comes back as the return value: std::optional when it may be
//   missing, an invalid UniqueFd for a descriptor that could not be had, a
//   plain struct when it has several parts. Nothing is returned through a
//   parameter; a parameter passed by reference is the record or buffer that
//   the function is there to fill.
//
// Each failure is named for what went wrong. Its value is the negated Linux
// error number (EPERM, ENOENT, EIO, EFAULT, EINVAL, EPROTO) that callers know
// as the exit status, so several names share a value.
enum class [[nodiscard]] Result : int{
    kOk = 0,
    kDriverRequestFailed = -1,  // the driver refused a request (its own -1)
    kVpdFileNotOpened = -1,     // the file named for a VPD block cannot be created
    kNoDriver = -2,             // the driver's node cannot be opened
    kVpdBlockWrongSize = -2,    // the agent's VPD block is not 128 bytes
    kRequestNotSent = -5,       // the request did not reach the agent whole
    kVpdNotWritten = -5,        // the VPD block was not written whole
    kNoConnection = -14,        // the agent cannot be reached
    kInvalidHostAddress = -14,  // the platform's address is no address
    kNoInterfaceList = -14,     // the system does not list its interfaces
    kCommandLineRefused = -22,  // the command line is wrong or names a text not plain
    kSettingsMalformed = -71,   // the settings file is malformed
};

constexpr bool failed(Result result) { return result != Result::kOk; }

// The number the process ends with, before the system keeps its low eight bits.
constexpr int exitValue(Result result) { return static_cast<int>(result); }

// The guard timer ends the process directly with this status.
inline constexpr int kExitGuardTimeout = 2;
