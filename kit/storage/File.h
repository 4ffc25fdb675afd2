// BFile: a regular file opened with one of the platform's open modes.
#pragma once

#include <Node.h>

class BFile : public BNode {
public:
	BFile() = default;
	BFile(const entry_ref* ref, uint32 openMode);
	BFile(const char* path, uint32 openMode);
	BFile(const BEntry* entry, uint32 openMode);
	~BFile() override;

	status_t SetTo(const entry_ref* ref, uint32 openMode);
	status_t SetTo(const char* path, uint32 openMode);
	status_t SetTo(const BEntry* entry, uint32 openMode);

	// Writes the whole buffer unless an error stops it; returns the bytes
	// written or an error code.
	ssize_t Read(void* buffer, size_t size);
	ssize_t Write(const void* buffer, size_t size);
	status_t Sync();
	status_t GetSize(off_t_* size) const;
	bool IsReadable() const;
	bool IsWritable() const;

private:
	uint32 fMode = 0;
};
