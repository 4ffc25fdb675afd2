// BMessage: a command code plus named, typed fields holding one or more values.
#pragma once

#include <EntryRef.h>
#include <SupportDefs.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

class BMessenger;

class BMessage {
public:
	BMessage();
	explicit BMessage(uint32 what);
	BMessage(const BMessage& other);
	BMessage& operator=(const BMessage& other);
	BMessage(BMessage&&) noexcept;
	BMessage& operator=(BMessage&&) noexcept;
	~BMessage();

	uint32 what = 0;

	// Adding appends a value under the name; a name keeps one type.
	status_t AddInt32(const char* name, int32 value);
	status_t AddInt64(const char* name, int64 value);
	status_t AddBool(const char* name, bool value);
	status_t AddString(const char* name, const char* value);
	status_t AddString(const char* name, const std::string& value);
	status_t AddRef(const char* name, const entry_ref* ref);
	status_t AddPointer(const char* name, const void* pointer);
	status_t AddMessage(const char* name, const BMessage* message);
	status_t AddData(const char* name, type_code type, const void* data, ssize_t numBytes);

	// Finding: B_NAME_NOT_FOUND when there is no such field, B_BAD_TYPE when
	// the field has another type, B_BAD_INDEX when the index is past its end.
	status_t FindInt32(const char* name, int32* value) const;
	status_t FindInt32(const char* name, int32 index, int32* value) const;
	status_t FindInt64(const char* name, int64* value) const;
	status_t FindInt64(const char* name, int32 index, int64* value) const;
	status_t FindBool(const char* name, bool* value) const;
	status_t FindBool(const char* name, int32 index, bool* value) const;
	status_t FindString(const char* name, const char** value) const;
	status_t FindString(const char* name, int32 index, const char** value) const;
	status_t FindString(const char* name, std::string* value) const;
	status_t FindString(const char* name, int32 index, std::string* value) const;
	status_t FindRef(const char* name, entry_ref* ref) const;
	status_t FindRef(const char* name, int32 index, entry_ref* ref) const;
	status_t FindPointer(const char* name, void** pointer) const;
	status_t FindPointer(const char* name, int32 index, void** pointer) const;
	status_t FindMessage(const char* name, BMessage* message) const;
	status_t FindMessage(const char* name, int32 index, BMessage* message) const;
	status_t FindData(const char* name, type_code type, int32 index,
		const void** data, ssize_t* numBytes) const;

	// Replacing changes an existing value; the same results as finding.
	status_t ReplaceInt32(const char* name, int32 value);
	status_t ReplaceInt32(const char* name, int32 index, int32 value);
	status_t ReplaceInt64(const char* name, int64 value);
	status_t ReplaceInt64(const char* name, int32 index, int64 value);
	status_t ReplaceBool(const char* name, bool value);
	status_t ReplaceBool(const char* name, int32 index, bool value);
	status_t ReplaceString(const char* name, const char* value);
	status_t ReplaceString(const char* name, int32 index, const char* value);
	status_t ReplaceRef(const char* name, const entry_ref* ref);
	status_t ReplaceRef(const char* name, int32 index, const entry_ref* ref);
	status_t ReplacePointer(const char* name, const void* pointer);
	status_t ReplacePointer(const char* name, int32 index, const void* pointer);
	status_t ReplaceMessage(const char* name, const BMessage* message);
	status_t ReplaceMessage(const char* name, int32 index, const BMessage* message);

	status_t RemoveName(const char* name);
	status_t RemoveData(const char* name, int32 index = 0);
	status_t MakeEmpty();
	bool IsEmpty() const;
	bool HasRef(const char* name, int32 index = 0) const;
	bool HasString(const char* name, int32 index = 0) const;
	bool HasInt32(const char* name, int32 index = 0) const;
	bool HasBool(const char* name, int32 index = 0) const;
	bool HasMessage(const char* name, int32 index = 0) const;

	// Type and number of values of a field.
	status_t GetInfo(const char* name, type_code* type, int32* count = nullptr) const;
	int32 CountNames(type_code type) const;

	// True when this message was delivered by a looper and not yet replied to.
	bool WasDropped() const { return fWasDropped; }

	// The looper that delivered the message sets these; kit-internal.
	void SetWasDropped(bool dropped) { fWasDropped = dropped; }

private:
	struct Field;
	using Value = std::variant<int32, int64, bool, std::string, entry_ref, const void*,
		std::shared_ptr<BMessage>, std::vector<uint8>>;

	Field* FindField(const char* name);
	const Field* FindField(const char* name) const;
	status_t AddValue(const char* name, type_code type, Value value);
	template <typename T>
	status_t FindValue(const char* name, type_code type, int32 index, const T** out) const;
	// FindValue, then the value found (made into an Out by `copy`) into *out.
	template <typename T, typename Out, typename Copy>
	status_t FindCopy(const char* name, type_code type, int32 index, Out* out, Copy copy) const;
	template <typename T, typename Out>
	status_t FindCopy(const char* name, type_code type, int32 index, Out* out) const;
	status_t ReplaceValue(const char* name, type_code type, int32 index, Value value);

	std::vector<Field> fFields;
	bool fWasDropped = false;
};

// Field of a message; the value type is private to the implementation.
struct BMessage::Field {
	std::string name;
	type_code type;
	std::vector<BMessage::Value> values;
};
