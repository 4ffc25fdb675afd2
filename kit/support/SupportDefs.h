// Basic types and result codes shared by the whole kit and the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;

using status_t = int32;
using type_code = uint32;
using team_id = int32;
using thread_id = int32;
using dev_t_ = int64;
using ino_t_ = int64;
using off_t_ = int64;
using bigtime_t = int64;

// Result codes. Errors are negative, as on the original platform.
enum : status_t {
	B_OK = 0,
	B_NO_ERROR = 0,
	B_ERROR = -1,
	B_GENERAL_ERROR_BASE = INT32_MIN,
	B_NO_MEMORY = B_GENERAL_ERROR_BASE + 0,
	B_IO_ERROR = B_GENERAL_ERROR_BASE + 1,
	B_PERMISSION_DENIED = B_GENERAL_ERROR_BASE + 2,
	B_BAD_INDEX = B_GENERAL_ERROR_BASE + 3,
	B_BAD_TYPE = B_GENERAL_ERROR_BASE + 4,
	B_BAD_VALUE = B_GENERAL_ERROR_BASE + 5,
	B_MISMATCHED_VALUES = B_GENERAL_ERROR_BASE + 6,
	B_NAME_NOT_FOUND = B_GENERAL_ERROR_BASE + 7,
	B_NAME_IN_USE = B_GENERAL_ERROR_BASE + 8,
	B_TIMED_OUT = B_GENERAL_ERROR_BASE + 9,
	B_INTERRUPTED = B_GENERAL_ERROR_BASE + 10,
	B_WOULD_BLOCK = B_GENERAL_ERROR_BASE + 11,
	B_CANCELED = B_GENERAL_ERROR_BASE + 12,
	B_NO_INIT = B_GENERAL_ERROR_BASE + 13,
	B_BUSY = B_GENERAL_ERROR_BASE + 14,
	B_NOT_ALLOWED = B_GENERAL_ERROR_BASE + 15,
	B_BAD_DATA = B_GENERAL_ERROR_BASE + 16,
	B_DONT_DO_THAT = B_GENERAL_ERROR_BASE + 17,

	B_BAD_TEAM_ID = B_GENERAL_ERROR_BASE + 0x1000 + 0x103,
	B_BAD_THREAD_ID = B_GENERAL_ERROR_BASE + 0x1000 + 0x101,

	B_BAD_REPLY = B_GENERAL_ERROR_BASE + 0x2000 + 0,
	B_DUPLICATE_REPLY = B_GENERAL_ERROR_BASE + 0x2000 + 1,
	B_MESSAGE_TO_SELF = B_GENERAL_ERROR_BASE + 0x2000 + 2,
	B_BAD_HANDLER = B_GENERAL_ERROR_BASE + 0x2000 + 3,
	B_ALREADY_RUNNING = B_GENERAL_ERROR_BASE + 0x2000 + 4,
	B_LAUNCH_FAILED = B_GENERAL_ERROR_BASE + 0x2000 + 5,
	B_AMBIGUOUS_APP_LAUNCH = B_GENERAL_ERROR_BASE + 0x2000 + 6,
	B_UNKNOWN_MIME_TYPE = B_GENERAL_ERROR_BASE + 0x2000 + 7,
	B_BAD_SCRIPT_SYNTAX = B_GENERAL_ERROR_BASE + 0x2000 + 8,
	B_LAUNCH_FAILED_NO_RESOLVE_LINK = B_GENERAL_ERROR_BASE + 0x2000 + 9,
	B_LAUNCH_FAILED_EXECUTABLE = B_GENERAL_ERROR_BASE + 0x2000 + 10,
	B_LAUNCH_FAILED_APP_NOT_FOUND = B_GENERAL_ERROR_BASE + 0x2000 + 11,

	B_FILE_ERROR = B_GENERAL_ERROR_BASE + 0x6000 + 0,
	B_FILE_NOT_FOUND = B_GENERAL_ERROR_BASE + 0x6000 + 1,
	B_FILE_EXISTS = B_GENERAL_ERROR_BASE + 0x6000 + 2,
	B_ENTRY_NOT_FOUND = B_GENERAL_ERROR_BASE + 0x6000 + 3,
	B_NAME_TOO_LONG = B_GENERAL_ERROR_BASE + 0x6000 + 4,
	B_NOT_A_DIRECTORY = B_GENERAL_ERROR_BASE + 0x6000 + 5,
	B_DIRECTORY_NOT_EMPTY = B_GENERAL_ERROR_BASE + 0x6000 + 6,
	B_DEVICE_FULL = B_GENERAL_ERROR_BASE + 0x6000 + 7,
	B_READ_ONLY_DEVICE = B_GENERAL_ERROR_BASE + 0x6000 + 8,
	B_IS_A_DIRECTORY = B_GENERAL_ERROR_BASE + 0x6000 + 9,
	B_NO_MORE_FDS = B_GENERAL_ERROR_BASE + 0x6000 + 10,
	B_LINK_LIMIT = B_GENERAL_ERROR_BASE + 0x6000 + 12,
	B_BUFFER_OVERFLOW = B_GENERAL_ERROR_BASE + 0x6000 + 17,
	B_NOT_SUPPORTED = B_GENERAL_ERROR_BASE + 0x6000 + 20,
};

// Maps an errno value onto the nearest kit result code.
status_t status_from_errno(int error);

// Type codes of message fields and attributes.
enum : type_code {
	B_ANY_TYPE = 0x414E5954,     // 'ANYT'
	B_BOOL_TYPE = 0x424F4F4C,    // 'BOOL'
	B_INT32_TYPE = 0x4C4F4E47,   // 'LONG'
	B_INT64_TYPE = 0x4C4C4E47,   // 'LLNG'
	B_STRING_TYPE = 0x43535452,  // 'CSTR'
	B_REF_TYPE = 0x52524546,     // 'RREF'
	B_POINTER_TYPE = 0x504E5452, // 'PNTR'
	B_MESSAGE_TYPE = 0x4D534747, // 'MSGG'
	B_MIME_STRING_TYPE = 0x4D494D53, // 'MIMS'
	B_RAW_TYPE = 0x52415754,     // 'RAWT'
};

// Builds a four-character code at compile time: FourCC("ENCD").
constexpr uint32 FourCC(const char (&s)[5])
{
	return (uint32(uint8(s[0])) << 24) | (uint32(uint8(s[1])) << 16)
		| (uint32(uint8(s[2])) << 8) | uint32(uint8(s[3]));
}
