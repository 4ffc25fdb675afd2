#include <Node.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// Extended attributes of the "user" namespace hold the values as they are,
// so that getfattr and setfattr see what the kit wrote. The type code of a
// value lives beside it under a reserved prefix that no kit name may use.
constexpr char kValuePrefix[] = "user.";
constexpr char kTypePrefix[] = "user.be_type.";
constexpr size_t kReservedLength = sizeof(kTypePrefix) - sizeof(kValuePrefix);
// The kernel's bounds on attribute names (XATTR_NAME_MAX) and values
// (XATTR_SIZE_MAX).
constexpr size_t kMaxXattrName = 255;
constexpr size_t kMaxXattrValue = 65536;

// The two extended attributes that hold one attribute of ours.
struct AttributeNames {
	std::string value;
	std::string type;
};

// The first checks of every attribute call: an open node and a usable name.
status_t attribute_names(int fd, const char* name, AttributeNames* names)
{
	if (fd < 0)
		return B_FILE_ERROR;
	if (name == nullptr || name[0] == '\0')
		return B_BAD_VALUE;
	size_t length = std::strlen(name);
	if (std::strncmp(name, kTypePrefix + sizeof(kValuePrefix) - 1, kReservedLength) == 0)
		return B_NOT_ALLOWED;
	if (sizeof(kTypePrefix) - 1 + length > kMaxXattrName)
		return B_NAME_TOO_LONG;
	names->value = std::string(kValuePrefix) + name;
	names->type = std::string(kTypePrefix) + name;
	return B_OK;
}

// Those of a read or a write, which also need an offset and a buffer that
// make sense.
status_t attribute_names(int fd, const char* name, off_t_ offset, const void* buffer,
	size_t length, AttributeNames* names)
{
	status_t status = attribute_names(fd, name, names);
	if (status != B_OK)
		return status;
	if (offset < 0 || (buffer == nullptr && length > 0))
		return B_BAD_VALUE;
	return B_OK;
}

status_t xattr_error(int error)
{
	// ENODATA is how Linux says that the attribute is not there.
	if (error == ENODATA)
		return B_ENTRY_NOT_FOUND;
	return status_from_errno(error);
}

// Reads a whole value; the value may change size between the calls.
status_t read_value(int fd, const std::string& name, std::vector<uint8>* value)
{
	for (int attempt = 0; attempt < 8; attempt++) {
		ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
		if (size < 0)
			return xattr_error(errno);
		value->resize(size_t(size));
		if (size == 0)
			return B_OK;
		ssize_t read = fgetxattr(fd, name.c_str(), value->data(), value->size());
		if (read >= 0) {
			value->resize(size_t(read));
			return B_OK;
		}
		if (errno != ERANGE)
			return xattr_error(errno);
	}
	return B_BUSY;
}

} // namespace

BNode::BNode(const entry_ref* ref)
{
	SetTo(ref);
}

BNode::BNode(const char* path)
{
	SetTo(path);
}

BNode::~BNode() = default;

status_t BNode::SetTo(const entry_ref* ref)
{
	Unset();
	if (ref == nullptr)
		return fInit = B_BAD_VALUE;
	std::string path = ref->Path();
	if (path.empty())
		return fInit = B_BAD_VALUE;
	return OpenPath(path.c_str(), O_RDONLY);
}

status_t BNode::SetTo(const char* path)
{
	Unset();
	if (path == nullptr)
		return fInit = B_BAD_VALUE;
	// Read-only is enough for attributes: the kernel checks the node's own
	// permissions for them, not the mode of the descriptor. It also opens
	// directories, which fgetxattr needs a real descriptor for.
	return OpenPath(path, O_RDONLY);
}

void BNode::Unset()
{
	fFd.Reset();
	fInit = B_NO_INIT;
}

status_t BNode::OpenPath(const char* path, int flags)
{
	fFd.Reset();
	if (path == nullptr || path[0] == '\0')
		return fInit = (path == nullptr ? B_BAD_VALUE : B_ENTRY_NOT_FOUND);
	// O_NONBLOCK keeps a FIFO without a writer from blocking the open; it
	// is cleared again so that reads and writes behave as usual.
	int fd;
	do {
		fd = open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
	} while (fd < 0 && errno == EINTR);
	if (fd < 0)
		return fInit = status_from_errno(errno);
	int statusFlags = fcntl(fd, F_GETFL);
	if (statusFlags >= 0)
		fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK);
	fFd.Reset(fd);
	return fInit = B_OK;
}

ssize_t BNode::ReadAttr(const char* name, type_code /*type*/, off_t_ offset, void* buffer,
	size_t length) const
{
	// As on the original platform, the type asked for does not filter: a
	// value is read whatever type it was written with.
	AttributeNames names;
	status_t status = attribute_names(fFd.Get(), name, offset, buffer, length, &names);
	if (status != B_OK)
		return status;

	if (offset == 0 && length > 0) {
		// The common case: the whole value into the caller's buffer.
		ssize_t read = fgetxattr(fFd.Get(), names.value.c_str(), buffer, length);
		if (read >= 0)
			return read;
		if (errno != ERANGE)
			return xattr_error(errno);
	}
	std::vector<uint8> value;
	status = read_value(fFd.Get(), names.value, &value);
	if (status != B_OK)
		return status;
	if (uint64(offset) >= value.size())
		return 0;
	size_t available = value.size() - size_t(offset);
	size_t count = length < available ? length : available;
	if (count > 0)
		std::memcpy(buffer, value.data() + offset, count);
	return ssize_t(count);
}

ssize_t BNode::WriteAttr(const char* name, type_code type, off_t_ offset, const void* buffer,
	size_t length)
{
	AttributeNames names;
	status_t status = attribute_names(fFd.Get(), name, offset, buffer, length, &names);
	if (status != B_OK)
		return status;
	if (length > kMaxXattrValue || uint64(offset) > kMaxXattrValue - length)
		return B_BAD_VALUE;

	if (offset == 0) {
		// Writing at the start replaces the whole value.
		if (fsetxattr(fFd.Get(), names.value.c_str(), length > 0 ? buffer : "", length, 0) != 0)
			return xattr_error(errno);
	} else {
		// Writing further in keeps what is there and grows the value.
		std::vector<uint8> value;
		status = read_value(fFd.Get(), names.value, &value);
		if (status != B_OK && status != B_ENTRY_NOT_FOUND)
			return status;
		if (value.size() < size_t(offset) + length)
			value.resize(size_t(offset) + length, 0);
		if (length > 0)
			std::memcpy(value.data() + offset, buffer, length);
		if (fsetxattr(fFd.Get(), names.value.c_str(), value.data(), value.size(), 0) != 0)
			return xattr_error(errno);
	}

	const uint8 code[4] = {uint8(type >> 24), uint8(type >> 16), uint8(type >> 8), uint8(type)};
	if (fsetxattr(fFd.Get(), names.type.c_str(), code, sizeof(code), 0) != 0)
		return xattr_error(errno);
	return ssize_t(length);
}

status_t BNode::RemoveAttr(const char* name)
{
	AttributeNames names;
	status_t status = attribute_names(fFd.Get(), name, &names);
	if (status != B_OK)
		return status;
	if (fremovexattr(fFd.Get(), names.value.c_str()) != 0)
		status = xattr_error(errno);
	// A type left without its value is removed as well.
	if (fremovexattr(fFd.Get(), names.type.c_str()) != 0 && errno != ENODATA && status == B_OK)
		status = xattr_error(errno);
	return status;
}

status_t BNode::GetAttrInfo(const char* name, attr_info* info) const
{
	AttributeNames names;
	status_t status = attribute_names(fFd.Get(), name, &names);
	if (status != B_OK)
		return status;
	if (info == nullptr)
		return B_BAD_VALUE;
	ssize_t size = fgetxattr(fFd.Get(), names.value.c_str(), nullptr, 0);
	if (size < 0)
		return xattr_error(errno);
	uint8 code[4];
	ssize_t codeSize = fgetxattr(fFd.Get(), names.type.c_str(), code, sizeof(code));
	// A value written by other tools has no type beside it: raw bytes.
	info->type = codeSize == 4
		? (type_code(code[0]) << 24) | (type_code(code[1]) << 16) | (type_code(code[2]) << 8)
			| type_code(code[3])
		: type_code(B_RAW_TYPE);
	info->size = size;
	return B_OK;
}
