#include <EntryRef.h>

#include <utility>

entry_ref::entry_ref(dev_t_ dev, ino_t_ dir, std::string leaf, std::string parentPath)
	: device(dev), directory(dir), name(std::move(leaf)), dirPath(std::move(parentPath))
{
}

status_t entry_ref::set_name(const char* leaf)
{
	if (leaf == nullptr)
		return B_BAD_VALUE;
	name = leaf;
	return B_OK;
}

bool entry_ref::operator==(const entry_ref& other) const
{
	return device == other.device && directory == other.directory && name == other.name;
}

std::string entry_ref::Path() const
{
	if (dirPath.empty() || name.empty())
		return {};
	// The root directory is the entry "." of itself.
	if (name == ".")
		return dirPath;
	if (dirPath.back() == '/')
		return dirPath + name;
	return dirPath + "/" + name;
}
