// BEntry: a directory entry, found from a path or a ref, links followed or not.
#pragma once

#include <EntryRef.h>
#include <StorageDefs.h>

#include <string>

class BPath;

class BEntry {
public:
	BEntry() = default;
	BEntry(const char* path, bool traverse = false);
	BEntry(const entry_ref* ref, bool traverse = false);

	status_t SetTo(const char* path, bool traverse = false);
	status_t SetTo(const entry_ref* ref, bool traverse = false);
	void Unset();

	// B_OK once the entry is set, even when nothing exists there (as long as
	// the directory does); B_ENTRY_NOT_FOUND when the directory is missing.
	status_t InitCheck() const { return fInit; }
	bool Exists() const;
	bool IsFile() const;
	bool IsDirectory() const;
	bool IsSymLink() const;

	status_t GetRef(entry_ref* ref) const;
	status_t GetPath(BPath* path) const;
	status_t GetParent(BEntry* parent) const;
	status_t GetName(char* buffer) const; // buffer of B_FILE_NAME_LENGTH
	status_t Remove();
	status_t Rename(const char* path, bool clobber = false);

	// The absolute path (links resolved as the entry was set).
	const std::string& PathString() const { return fPath; }

private:
	std::string fPath; // absolute, normalised
	status_t fInit = B_NO_INIT;
};

// Builds the ref of the entry at a path without following a final link.
status_t get_ref_for_path(const char* path, entry_ref* ref);
