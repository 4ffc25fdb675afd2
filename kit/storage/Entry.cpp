#include <Entry.h>
#include <Path.h>

#include "PathResolution.h"
#include "PathSplit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace BPrivate;

BEntry::BEntry(const char* path, bool traverse)
{
	SetTo(path, traverse);
}

BEntry::BEntry(const entry_ref* ref, bool traverse)
{
	SetTo(ref, traverse);
}

status_t BEntry::SetTo(const char* path, bool traverse)
{
	Unset();
	if (path == nullptr)
		return fInit = B_BAD_VALUE;
	std::string resolved;
	status_t status = resolve_entry_path(path, traverse, &resolved);
	if (status != B_OK)
		return fInit = status;
	fPath = std::move(resolved);
	return fInit = B_OK;
}

status_t BEntry::SetTo(const entry_ref* ref, bool traverse)
{
	Unset();
	if (ref == nullptr)
		return fInit = B_BAD_VALUE;
	std::string path = ref->Path();
	if (path.empty())
		return fInit = B_BAD_VALUE;
	return SetTo(path.c_str(), traverse);
}

void BEntry::Unset()
{
	fPath.clear();
	fInit = B_NO_INIT;
}

bool BEntry::Exists() const
{
	struct stat st;
	return fInit == B_OK && lstat(fPath.c_str(), &st) == 0;
}

bool BEntry::IsFile() const
{
	struct stat st;
	return fInit == B_OK && lstat(fPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool BEntry::IsDirectory() const
{
	struct stat st;
	return fInit == B_OK && lstat(fPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool BEntry::IsSymLink() const
{
	struct stat st;
	return fInit == B_OK && lstat(fPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

status_t BEntry::GetRef(entry_ref* ref) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	std::string directory;
	std::string leaf;
	SplitPath(fPath, directory, leaf);
	if (leaf.empty())
		leaf = "."; // the root directory
	struct stat st;
	if (stat(directory.c_str(), &st) != 0)
		return status_from_errno(errno);
	*ref = entry_ref(dev_t_(st.st_dev), ino_t_(st.st_ino), leaf, directory);
	return B_OK;
}

status_t BEntry::GetPath(BPath* path) const
{
	if (path == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK) {
		path->Unset();
		return fInit;
	}
	return path->SetTo(fPath.c_str());
}

status_t BEntry::GetParent(BEntry* parent) const
{
	if (parent == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	if (fPath == "/")
		return B_ENTRY_NOT_FOUND;
	std::string directory;
	std::string leaf;
	SplitPath(fPath, directory, leaf);
	// The directory part is canonical already; only the file system's own
	// view of it matters, so no links are followed again.
	return parent->SetTo(directory.c_str(), false);
}

status_t BEntry::GetName(char* buffer) const
{
	if (buffer == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK) {
		buffer[0] = '\0';
		return fInit;
	}
	std::string directory;
	std::string leaf;
	SplitPath(fPath, directory, leaf);
	if (leaf.empty())
		leaf = "/";
	// A leaf is at most NAME_MAX (255) bytes, so it always fits.
	std::snprintf(buffer, B_FILE_NAME_LENGTH, "%s", leaf.c_str());
	return B_OK;
}

status_t BEntry::Remove()
{
	if (fInit != B_OK)
		return fInit;
	struct stat st;
	if (lstat(fPath.c_str(), &st) != 0)
		return status_from_errno(errno);
	int result = S_ISDIR(st.st_mode) ? rmdir(fPath.c_str()) : unlink(fPath.c_str());
	if (result != 0)
		return status_from_errno(errno);
	return B_OK;
}

status_t BEntry::Rename(const char* path, bool clobber)
{
	if (path == nullptr || path[0] == '\0')
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	std::string directory;
	std::string leaf;
	SplitPath(fPath, directory, leaf);
	// A relative new name is taken relative to the entry's own directory.
	std::string target = path[0] == '/' ? std::string(path) : join_path(directory, path);
	std::string resolved;
	status_t status = resolve_entry_path(target, false, &resolved);
	if (status != B_OK)
		return status;
	if (resolved == fPath)
		return B_OK;
	if (clobber) {
		if (rename(fPath.c_str(), resolved.c_str()) != 0)
			return status_from_errno(errno);
	} else if (renameat2(AT_FDCWD, fPath.c_str(), AT_FDCWD, resolved.c_str(), RENAME_NOREPLACE)
			!= 0) {
		if (errno != EINVAL && errno != ENOSYS)
			return status_from_errno(errno);
		// A file system without RENAME_NOREPLACE: check, then rename. The
		// window between the two is unavoidable there.
		struct stat st;
		if (lstat(resolved.c_str(), &st) == 0)
			return B_FILE_EXISTS;
		if (rename(fPath.c_str(), resolved.c_str()) != 0)
			return status_from_errno(errno);
	}
	fPath = std::move(resolved);
	return B_OK;
}

status_t get_ref_for_path(const char* path, entry_ref* ref)
{
	if (path == nullptr || ref == nullptr)
		return B_BAD_VALUE;
	BEntry entry(path, false);
	if (entry.InitCheck() != B_OK)
		return entry.InitCheck();
	return entry.GetRef(ref);
}
