// BFile: a regular file opened with one of the platform's open modes
// (B_READ_ONLY, B_WRITE_ONLY or B_READ_WRITE, with B_CREATE_FILE, B_ERASE_FILE,
// B_FAIL_IF_EXISTS and B_OPEN_AT_END as O_CREAT, O_TRUNC, O_EXCL, O_APPEND).
#pragma once

#include <Node.h>

class BFile : public BNode {
public:
	BFile() = default;
	BFile(const entry_ref* ref, uint32 openMode);
	BFile(const char* path, uint32 openMode);
	BFile(const BEntry* entry, uint32 openMode);
	~BFile() override;
	void Unset() override;

	status_t SetTo(const entry_ref* ref, uint32 openMode);
	status_t SetTo(const char* path, uint32 openMode);
	status_t SetTo(const BEntry* entry, uint32 openMode);

	// Returns the bytes read (0 at the end) or an error code.
	ssize_t Read(void* buffer, size_t size);
	// Writes the whole buffer unless an error stops it; returns the bytes
	// written (fewer only when an error came after some were written) or an
	// error code.
	ssize_t Write(const void* buffer, size_t size);
	status_t Sync();
	status_t GetSize(off_t_* size) const;
	bool IsReadable() const;
	bool IsWritable() const;

private:
	uint32 fMode = 0;
	// A write mode on the executable of a running process (ETXTBSY): the file
	// is opened read-only instead, so that its attributes can still be
	// written, and Write reports B_BUSY.
	bool fTextBusy = false;
};
