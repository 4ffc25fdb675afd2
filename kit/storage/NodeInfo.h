// BNodeInfo: a file's MIME type, kept in "user.mime_type".
#pragma once

#include <Node.h>

class BNodeInfo {
public:
	BNodeInfo() = default;
	explicit BNodeInfo(BNode* node);
	status_t SetTo(BNode* node);
	status_t InitCheck() const;

	// type is a buffer of B_MIME_TYPE_LENGTH bytes. Without the attribute the
	// shared MIME database's answer for the file is given.
	status_t GetType(char* type) const;
	status_t SetType(const char* type);

private:
	BNode* fNode = nullptr;
};
