// entry_ref: a reference to a directory entry (device, directory, name).
#pragma once

#include <SupportDefs.h>

#include <string>

struct entry_ref {
	entry_ref() = default;
	// Builds a ref from the device and inode of the directory and the leaf
	// name; dirPath is remembered so the ref can be turned back into a path.
	entry_ref(dev_t_ dev, ino_t_ dir, std::string leaf, std::string parentPath = {});

	status_t set_name(const char* leaf);

	// Two refs are equal when device, directory and name are.
	bool operator==(const entry_ref& other) const;
	bool operator!=(const entry_ref& other) const { return !(*this == other); }

	// The absolute path of the entry; empty for an unset ref.
	std::string Path() const;

	dev_t_ device = -1;
	ino_t_ directory = -1;
	std::string name;
	std::string dirPath;
};
