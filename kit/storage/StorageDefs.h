// Open modes, node kinds and sizes of the Storage Kit.
#pragma once

#include <SupportDefs.h>

enum : uint32 {
	B_READ_ONLY = 0x0000,
	B_WRITE_ONLY = 0x0001,
	B_READ_WRITE = 0x0002,
	B_CREATE_FILE = 0x0200,
	B_ERASE_FILE = 0x0400,
	B_FAIL_IF_EXISTS = 0x0800,
	B_OPEN_AT_END = 0x1000,
};

// Kinds of nodes that a file panel offers.
enum : uint32 {
	B_FILE_NODE = 0x01,
	B_SYMLINK_NODE = 0x02,
	B_DIRECTORY_NODE = 0x04,
	B_ANY_NODE = 0x07,
};

enum : size_t {
	B_FILE_NAME_LENGTH = 256,
	B_PATH_NAME_LENGTH = 1024,
	B_ATTR_NAME_LENGTH = 256,
	B_MIME_TYPE_LENGTH = 256,
};

struct attr_info {
	type_code type = 0;
	off_t_ size = 0;
};
