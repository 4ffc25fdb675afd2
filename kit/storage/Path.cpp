#include <Entry.h>
#include <Path.h>

#include "PathResolution.h"
#include "PathSplit.h"

using namespace BPrivate;

BPath::BPath(const char* path, const char* leaf, bool normalize)
{
	SetTo(path, leaf, normalize);
}

BPath::BPath(const entry_ref* ref)
{
	SetTo(ref);
}

BPath::BPath(const BEntry* entry)
{
	SetTo(entry);
}

status_t BPath::SetTo(const char* path, const char* leaf, bool normalize)
{
	Unset();
	if (path == nullptr)
		return fInit = B_BAD_VALUE;
	if (leaf != nullptr && leaf[0] == '/')
		return fInit = B_BAD_VALUE;
	std::string full = path;
	if (leaf != nullptr && leaf[0] != '\0')
		full = join_path(full, leaf);
	if (normalize || !is_normalized(full)) {
		// As on the original platform, normalising asks the file system:
		// the directory must exist, its links are resolved, the leaf is kept.
		std::string resolved;
		status_t status = resolve_entry_path(full, false, &resolved);
		if (status != B_OK)
			return fInit = status;
		full = std::move(resolved);
	}
	fPath = std::move(full);
	return fInit = B_OK;
}

status_t BPath::SetTo(const entry_ref* ref)
{
	Unset();
	if (ref == nullptr)
		return fInit = B_BAD_VALUE;
	std::string path = ref->Path();
	if (path.empty())
		return fInit = B_BAD_VALUE;
	return SetTo(path.c_str());
}

status_t BPath::SetTo(const BEntry* entry)
{
	Unset();
	if (entry == nullptr)
		return fInit = B_BAD_VALUE;
	if (entry->InitCheck() != B_OK)
		return fInit = entry->InitCheck();
	fPath = entry->PathString();
	return fInit = B_OK;
}

void BPath::Unset()
{
	fPath.clear();
	fInit = B_NO_INIT;
}

const char* BPath::Leaf() const
{
	if (fInit != B_OK)
		return nullptr;
	// The leaf runs to the end of the path, so it ends where the path does.
	return SplitPathView(fPath).leaf.data();
}

status_t BPath::GetParent(BPath* path) const
{
	if (path == nullptr)
		return B_BAD_VALUE;
	if (fInit != B_OK)
		return fInit;
	if (fPath == "/")
		return B_ENTRY_NOT_FOUND;
	std::string directory;
	std::string leaf;
	SplitPath(fPath, directory, leaf);
	path->Unset();
	path->fPath = std::move(directory);
	path->fInit = B_OK;
	return B_OK;
}

status_t BPath::Append(const char* path, bool normalize)
{
	if (fInit != B_OK)
		return B_BAD_VALUE;
	if (path == nullptr || path[0] == '\0')
		return B_OK;
	if (path[0] == '/')
		return B_BAD_VALUE;
	std::string base = fPath;
	return SetTo(base.c_str(), path, normalize);
}
