#include <MimeType.h>
#include <NodeInfo.h>

#include <cerrno>
#include <cstring>
#include <sys/xattr.h>

namespace {

// Written without a type companion, exactly as other freedesktop tools
// write it.
constexpr char kTypeAttribute[] = "user.mime_type";

} // namespace

BNodeInfo::BNodeInfo(BNode* node)
{
	SetTo(node);
}

status_t BNodeInfo::SetTo(BNode* node)
{
	fNode = nullptr;
	if (node == nullptr)
		return B_BAD_VALUE;
	if (node->InitCheck() != B_OK)
		return node->InitCheck();
	fNode = node;
	return B_OK;
}

status_t BNodeInfo::InitCheck() const
{
	if (fNode == nullptr)
		return B_NO_INIT;
	return fNode->InitCheck();
}

status_t BNodeInfo::GetType(char* type) const
{
	if (type == nullptr)
		return B_BAD_VALUE;
	type[0] = '\0';
	status_t status = InitCheck();
	if (status != B_OK)
		return status;
	ssize_t length = fNode->ReadAttr("mime_type", B_MIME_STRING_TYPE, 0, type,
		B_MIME_TYPE_LENGTH - 1);
	if (length < 0)
		return status_t(length);
	type[length] = '\0';
	// Some writers include the terminator; the type ends at the first NUL.
	if (std::strlen(type) == 0)
		return B_ENTRY_NOT_FOUND;
	return B_OK;
}

status_t BNodeInfo::SetType(const char* type)
{
	status_t status = InitCheck();
	if (status != B_OK)
		return status;
	int fd = fNode->FileDescriptor();
	if (type == nullptr) {
		if (fremovexattr(fd, kTypeAttribute) != 0 && errno != ENODATA)
			return status_from_errno(errno);
		return B_OK;
	}
	if (!BMimeType::IsValid(type))
		return B_BAD_VALUE;
	if (fsetxattr(fd, kTypeAttribute, type, std::strlen(type), 0) != 0)
		return status_from_errno(errno);
	return B_OK;
}
