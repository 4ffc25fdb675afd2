// BPath: an absolute, normalised path.
#pragma once

#include <EntryRef.h>
#include <SupportDefs.h>

#include <string>

class BEntry;

class BPath {
public:
	BPath() = default;
	BPath(const char* path, const char* leaf = nullptr, bool normalize = false);
	BPath(const entry_ref* ref);
	BPath(const BEntry* entry);

	status_t SetTo(const char* path, const char* leaf = nullptr, bool normalize = false);
	status_t SetTo(const entry_ref* ref);
	status_t SetTo(const BEntry* entry);
	void Unset();
	status_t InitCheck() const { return fInit; }

	// Null while unset.
	const char* Path() const { return fInit == B_OK ? fPath.c_str() : nullptr; }
	const char* Leaf() const;
	status_t GetParent(BPath* path) const;
	status_t Append(const char* path, bool normalize = false);

private:
	std::string fPath;
	status_t fInit = B_NO_INIT;
};
