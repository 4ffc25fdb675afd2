// Message codes of the platform.
#pragma once

#include <SupportDefs.h>

enum : uint32 {
	B_QUIT_REQUESTED = '_QRQ',
	B_REFS_RECEIVED = '_RRC',
	B_READY_TO_RUN = '_RTR',
	B_ABOUT_REQUESTED = '_ABR',
	B_SIMPLE_DATA = 'DATA',
	B_SOME_APP_LAUNCHED = 'BRAS',
	B_SOME_APP_QUIT = 'BRAQ',
	B_CANCEL = '_CNC',
	B_NO_REPLY = '_NRP',
	B_MESSAGE_NOT_UNDERSTOOD = '_NUN',
};

// Masks for BRoster::StartWatching.
enum : uint32 {
	B_REQUEST_LAUNCHED = 0x00000001,
	B_REQUEST_QUIT = 0x00000002,
	B_REQUEST_ACTIVATED = 0x00000004,
};

// Application flags stored in the executable's resources.
enum : uint32 {
	B_SINGLE_LAUNCH = 0x0,
	B_MULTIPLE_LAUNCH = 0x1,
	B_EXCLUSIVE_LAUNCH = 0x2,
	B_LAUNCH_MASK = 0x3,
	B_BACKGROUND_APP = 0x4,
	B_ARGV_ONLY = 0x8,
};
