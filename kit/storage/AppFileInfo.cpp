#include <AppFileInfo.h>

#include "ResourceFormat.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

BAppFileInfo::BAppFileInfo(BFile* file)
{
	SetTo(file);
}

status_t BAppFileInfo::SetTo(BFile* file)
{
	*this = BAppFileInfo();
	if (file == nullptr)
		return fInit = B_BAD_VALUE;
	if (file->InitCheck() != B_OK)
		return fInit = file->InitCheck();

	const int fd = file->FileDescriptor();
	struct stat st;
	if (fstat(fd, &st) != 0)
		return fInit = status_from_errno(errno);
	if (!S_ISREG(st.st_mode))
		return fInit = B_ENTRY_NOT_FOUND;

	auto read = [fd](uint64 offset, void* buffer, size_t length) {
		char* bytes = static_cast<char*>(buffer);
		while (length > 0) {
			ssize_t result = pread(fd, bytes, length, off_t(offset));
			if (result < 0 && errno == EINTR)
				continue;
			if (result <= 0)
				return false; // an error, or the file shrank under us
			bytes += result;
			offset += uint64(result);
			length -= size_t(result);
		}
		return true;
	};
	std::vector<uint8> section;
	status_t status
		= tamsel_rsrc::find_elf_section(read, uint64(st.st_size), tamsel_rsrc::kSectionName, &section);
	if (status == B_BAD_TYPE)
		status = B_ENTRY_NOT_FOUND; // not an executable: it carries no resources
	if (status != B_OK)
		return fInit = status;

	tamsel_rsrc::Contents contents;
	status = tamsel_rsrc::parse_block(section.data(), section.size(), &contents);
	if (status != B_OK)
		return fInit = B_BAD_DATA;

	fSignature = std::move(contents.signature);
	fHasSignature = contents.hasSignature;
	fType = std::move(contents.type);
	fHasType = contents.hasType;
	fFlags = contents.appFlags;
	fHasFlags = contents.hasAppFlags;
	fVersion = contents.appVersion;
	fHasVersion = contents.hasAppVersion;
	fSystemVersion = contents.systemVersion;
	fHasSystemVersion = contents.hasSystemVersion;
	fLargeIcon = std::move(contents.largeIcon);
	fMiniIcon = std::move(contents.miniIcon);
	fSupportedTypes = std::move(contents.supportedTypes);
	return fInit = B_OK;
}

status_t BAppFileInfo::GetSignature(char* signature) const
{
	if (signature == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	if (!fHasSignature)
		return B_ENTRY_NOT_FOUND;
	// The parser bounds it below B_MIME_TYPE_LENGTH.
	std::memcpy(signature, fSignature.c_str(), fSignature.size() + 1);
	return B_OK;
}

status_t BAppFileInfo::GetAppFlags(uint32* flags) const
{
	if (flags == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	if (!fHasFlags)
		return B_ENTRY_NOT_FOUND;
	*flags = fFlags;
	return B_OK;
}

status_t BAppFileInfo::GetVersionInfo(version_info* info, version_kind kind) const
{
	if (info == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	switch (kind) {
		case B_APP_VERSION_KIND:
			if (!fHasVersion)
				return B_ENTRY_NOT_FOUND;
			*info = fVersion;
			return B_OK;
		case B_SYSTEM_VERSION_KIND:
			if (!fHasSystemVersion)
				return B_ENTRY_NOT_FOUND;
			*info = fSystemVersion;
			return B_OK;
	}
	return B_BAD_VALUE;
}

status_t BAppFileInfo::GetType(char* type) const
{
	if (type == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	if (!fHasType)
		return B_ENTRY_NOT_FOUND;
	std::memcpy(type, fType.c_str(), fType.size() + 1);
	return B_OK;
}

status_t BAppFileInfo::GetIcon(BBitmap* icon, icon_size which) const
{
	if (icon == nullptr || (which != B_LARGE_ICON && which != B_MINI_ICON))
		return B_BAD_VALUE;
	const int32 side = int32(which);
	BRect bounds = icon->Bounds();
	if (icon->InitCheck() != B_OK || icon->ColorSpace() != B_CMAP8
		|| bounds.IntegerWidth() + 1 != side || bounds.IntegerHeight() + 1 != side)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	const std::vector<uint8>& pixels = which == B_LARGE_ICON ? fLargeIcon : fMiniIcon;
	if (pixels.size() != size_t(side * side))
		return B_ENTRY_NOT_FOUND;
	uint8* bits = static_cast<uint8*>(icon->Bits());
	for (int32 row = 0; row < side; row++)
		std::memcpy(bits + row * icon->BytesPerRow(), pixels.data() + row * side, size_t(side));
	return B_OK;
}

status_t BAppFileInfo::GetSupportedTypes(std::vector<std::string>* types) const
{
	if (types == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	*types = fSupportedTypes;
	return B_OK;
}
