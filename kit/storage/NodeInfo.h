// BNodeInfo: a file's MIME type, kept in the "user.mime_type" extended
// attribute (the freedesktop convention: the plain type string, no NUL).
#pragma once

#include <Node.h>

class BNodeInfo {
public:
	BNodeInfo() = default;
	explicit BNodeInfo(BNode* node);
	status_t SetTo(BNode* node);
	status_t InitCheck() const;

	// type is a buffer of B_MIME_TYPE_LENGTH bytes. A file without the
	// attribute gets the type that the shared MIME database's globs give its
	// name (the contents are not sniffed: this runs for every file handed to
	// the application); B_ENTRY_NOT_FOUND when no glob matches.
	status_t GetType(char* type) const;
	// Stores the type; a null type removes it.
	status_t SetType(const char* type);

private:
	BNode* fNode = nullptr;
};
