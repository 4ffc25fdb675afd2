// BNode: an open file system node and its attributes (extended attributes).
#pragma once

#include <EntryRef.h>
#include <StorageDefs.h>

#include "UniqueFd.h"

class BEntry;

class BNode {
public:
	BNode() = default;
	BNode(const entry_ref* ref);
	BNode(const char* path);
	BNode(const BNode&) = delete;
	BNode& operator=(const BNode&) = delete;
	virtual ~BNode();

	status_t SetTo(const entry_ref* ref);
	status_t SetTo(const char* path);
	virtual void Unset();
	// B_OK when the node is open.
	status_t InitCheck() const { return fInit; }

	// Attributes live in "user.<name>", the value byte for byte; the type
	// code is kept in a companion attribute. B_ENTRY_NOT_FOUND for a missing
	// attribute, B_FILE_ERROR for a node that is not open. ReadAttr returns
	// the number of bytes read.
	ssize_t ReadAttr(const char* name, type_code type, off_t_ offset, void* buffer,
		size_t length) const;
	ssize_t WriteAttr(const char* name, type_code type, off_t_ offset, const void* buffer,
		size_t length);
	status_t RemoveAttr(const char* name);
	status_t GetAttrInfo(const char* name, attr_info* info) const;

	int FileDescriptor() const { return fFd.Get(); }

protected:
	status_t OpenPath(const char* path, int flags);

	UniqueFd fFd;
	status_t fInit = B_NO_INIT;
};
