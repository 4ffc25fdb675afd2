#include <Message.h>

#include <cstring>
#include <utility>

namespace {

bool ValidName(const char* name)
{
	return name != nullptr;
}

// Raw data of the fixed-size types is kept as the typed value, so that a field
// added with AddData(B_INT32_TYPE, ...) can be read with FindInt32 and the
// other way round.
template <typename T>
bool DecodeFixed(const void* data, ssize_t numBytes, T* out)
{
	if (numBytes != static_cast<ssize_t>(sizeof(T)))
		return false;
	std::memcpy(out, data, sizeof(T));
	return true;
}

} // namespace

BMessage::BMessage() = default;

BMessage::BMessage(uint32 command)
	: what(command)
{
}

BMessage::BMessage(const BMessage& other)
	: what(other.what), fFields(other.fFields), fWasDropped(other.fWasDropped)
{
	// Nested messages are shared by the vector copy; give this copy its own so
	// that the two never alias across threads.
	for (Field& field : fFields) {
		for (Value& value : field.values) {
			if (auto* nested = std::get_if<std::shared_ptr<BMessage>>(&value)) {
				if (*nested)
					*nested = std::make_shared<BMessage>(**nested);
			}
		}
	}
}

BMessage& BMessage::operator=(const BMessage& other)
{
	if (this != &other) {
		BMessage copy(other);
		*this = std::move(copy);
	}
	return *this;
}

BMessage::BMessage(BMessage&&) noexcept = default;
BMessage& BMessage::operator=(BMessage&&) noexcept = default;
BMessage::~BMessage() = default;

BMessage::Field* BMessage::FindField(const char* name)
{
	if (!ValidName(name))
		return nullptr;
	for (Field& field : fFields) {
		if (field.name == name)
			return &field;
	}
	return nullptr;
}

const BMessage::Field* BMessage::FindField(const char* name) const
{
	return const_cast<BMessage*>(this)->FindField(name);
}

status_t BMessage::AddValue(const char* name, type_code type, Value value)
{
	if (!ValidName(name))
		return B_BAD_VALUE;
	if (Field* field = FindField(name)) {
		if (field->type != type)
			return B_BAD_TYPE;
		field->values.push_back(std::move(value));
		return B_OK;
	}
	Field field{name, type, {}};
	field.values.push_back(std::move(value));
	fFields.push_back(std::move(field));
	return B_OK;
}

template <typename T>
status_t BMessage::FindValue(const char* name, type_code type, int32 index, const T** out) const
{
	if (!ValidName(name))
		return B_BAD_VALUE;
	const Field* field = FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (field->type != type)
		return B_BAD_TYPE;
	if (index < 0 || static_cast<size_t>(index) >= field->values.size())
		return B_BAD_INDEX;
	const T* value = std::get_if<T>(&field->values[static_cast<size_t>(index)]);
	if (value == nullptr)
		return B_BAD_TYPE;
	*out = value;
	return B_OK;
}

template <typename T, typename Out, typename Copy>
status_t BMessage::FindCopy(const char* name, type_code type, int32 index, Out* out,
	Copy copy) const
{
	if (out == nullptr)
		return B_BAD_VALUE;
	const T* found = nullptr;
	status_t status = FindValue(name, type, index, &found);
	if (status == B_OK)
		*out = copy(*found);
	return status;
}

template <typename T, typename Out>
status_t BMessage::FindCopy(const char* name, type_code type, int32 index, Out* out) const
{
	return FindCopy<T>(name, type, index, out, [](const T& value) -> Out { return value; });
}

status_t BMessage::ReplaceValue(const char* name, type_code type, int32 index, Value value)
{
	if (!ValidName(name))
		return B_BAD_VALUE;
	Field* field = FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (field->type != type)
		return B_BAD_TYPE;
	if (index < 0 || static_cast<size_t>(index) >= field->values.size())
		return B_BAD_INDEX;
	Value& slot = field->values[static_cast<size_t>(index)];
	if (slot.index() != value.index())
		return B_BAD_TYPE;
	slot = std::move(value);
	return B_OK;
}

// ---- adding --------------------------------------------------------------

status_t BMessage::AddInt32(const char* name, int32 value)
{
	return AddValue(name, B_INT32_TYPE, value);
}

status_t BMessage::AddInt64(const char* name, int64 value)
{
	return AddValue(name, B_INT64_TYPE, value);
}

status_t BMessage::AddBool(const char* name, bool value)
{
	return AddValue(name, B_BOOL_TYPE, value);
}

status_t BMessage::AddString(const char* name, const char* value)
{
	if (value == nullptr)
		return B_BAD_VALUE;
	return AddValue(name, B_STRING_TYPE, std::string(value));
}

status_t BMessage::AddString(const char* name, const std::string& value)
{
	// A C string cannot carry an embedded NUL; keep what FindString(const char**) can show.
	return AddValue(name, B_STRING_TYPE, std::string(value.c_str()));
}

status_t BMessage::AddRef(const char* name, const entry_ref* ref)
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	return AddValue(name, B_REF_TYPE, *ref);
}

status_t BMessage::AddPointer(const char* name, const void* pointer)
{
	return AddValue(name, B_POINTER_TYPE, pointer);
}

status_t BMessage::AddMessage(const char* name, const BMessage* message)
{
	if (message == nullptr)
		return B_BAD_VALUE;
	return AddValue(name, B_MESSAGE_TYPE, std::make_shared<BMessage>(*message));
}

status_t BMessage::AddData(const char* name, type_code type, const void* data, ssize_t numBytes)
{
	if (numBytes < 0 || (data == nullptr && numBytes > 0))
		return B_BAD_VALUE;
	switch (type) {
		case B_INT32_TYPE: {
			int32 value;
			if (!DecodeFixed(data, numBytes, &value))
				return B_BAD_VALUE;
			return AddInt32(name, value);
		}
		case B_INT64_TYPE: {
			int64 value;
			if (!DecodeFixed(data, numBytes, &value))
				return B_BAD_VALUE;
			return AddInt64(name, value);
		}
		case B_BOOL_TYPE: {
			uint8 value;
			if (!DecodeFixed(data, numBytes, &value))
				return B_BAD_VALUE;
			return AddBool(name, value != 0);
		}
		case B_STRING_TYPE: {
			const char* bytes = static_cast<const char*>(data);
			size_t length = 0;
			while (static_cast<ssize_t>(length) < numBytes && bytes[length] != '\0')
				length++;
			return AddValue(name, B_STRING_TYPE, std::string(bytes, length));
		}
		case B_REF_TYPE:
		case B_POINTER_TYPE:
		case B_MESSAGE_TYPE:
		case B_ANY_TYPE:
			// These have no flat form here; use the typed calls.
			return B_BAD_TYPE;
		default: {
			const uint8* bytes = static_cast<const uint8*>(data);
			return AddValue(name, type,
				std::vector<uint8>(bytes, bytes + (numBytes > 0 ? numBytes : 0)));
		}
	}
}

// ---- finding -------------------------------------------------------------

status_t BMessage::FindInt32(const char* name, int32* value) const
{
	return FindInt32(name, 0, value);
}

status_t BMessage::FindInt32(const char* name, int32 index, int32* value) const
{
	return FindCopy<int32>(name, B_INT32_TYPE, index, value);
}

status_t BMessage::FindInt64(const char* name, int64* value) const
{
	return FindInt64(name, 0, value);
}

status_t BMessage::FindInt64(const char* name, int32 index, int64* value) const
{
	return FindCopy<int64>(name, B_INT64_TYPE, index, value);
}

status_t BMessage::FindBool(const char* name, bool* value) const
{
	return FindBool(name, 0, value);
}

status_t BMessage::FindBool(const char* name, int32 index, bool* value) const
{
	return FindCopy<bool>(name, B_BOOL_TYPE, index, value);
}

status_t BMessage::FindString(const char* name, const char** value) const
{
	return FindString(name, 0, value);
}

status_t BMessage::FindString(const char* name, int32 index, const char** value) const
{
	// The text stays the message's own.
	return FindCopy<std::string>(name, B_STRING_TYPE, index, value,
		[](const std::string& text) { return text.c_str(); });
}

status_t BMessage::FindString(const char* name, std::string* value) const
{
	return FindString(name, 0, value);
}

status_t BMessage::FindString(const char* name, int32 index, std::string* value) const
{
	return FindCopy<std::string>(name, B_STRING_TYPE, index, value);
}

status_t BMessage::FindRef(const char* name, entry_ref* ref) const
{
	return FindRef(name, 0, ref);
}

status_t BMessage::FindRef(const char* name, int32 index, entry_ref* ref) const
{
	return FindCopy<entry_ref>(name, B_REF_TYPE, index, ref);
}

status_t BMessage::FindPointer(const char* name, void** pointer) const
{
	return FindPointer(name, 0, pointer);
}

status_t BMessage::FindPointer(const char* name, int32 index, void** pointer) const
{
	return FindCopy<const void*>(name, B_POINTER_TYPE, index, pointer,
		[](const void* found) { return const_cast<void*>(found); });
}

status_t BMessage::FindMessage(const char* name, BMessage* message) const
{
	return FindMessage(name, 0, message);
}

status_t BMessage::FindMessage(const char* name, int32 index, BMessage* message) const
{
	if (message == nullptr)
		return B_BAD_VALUE;
	const std::shared_ptr<BMessage>* found = nullptr;
	status_t status = FindValue(name, B_MESSAGE_TYPE, index, &found);
	if (status != B_OK)
		return status;
	if (*found == nullptr)
		return B_BAD_VALUE;
	if (found->get() != message)
		*message = **found;
	return B_OK;
}

status_t BMessage::FindData(const char* name, type_code type, int32 index,
	const void** data, ssize_t* numBytes) const
{
	if (!ValidName(name) || data == nullptr || numBytes == nullptr)
		return B_BAD_VALUE;
	const Field* field = FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (type != B_ANY_TYPE && field->type != type)
		return B_BAD_TYPE;
	if (index < 0 || static_cast<size_t>(index) >= field->values.size())
		return B_BAD_INDEX;
	const Value& value = field->values[static_cast<size_t>(index)];
	if (const auto* bytes = std::get_if<std::vector<uint8>>(&value)) {
		*data = bytes->data();
		*numBytes = static_cast<ssize_t>(bytes->size());
	} else if (const auto* i32 = std::get_if<int32>(&value)) {
		*data = i32;
		*numBytes = sizeof(int32);
	} else if (const auto* i64 = std::get_if<int64>(&value)) {
		*data = i64;
		*numBytes = sizeof(int64);
	} else if (const auto* flag = std::get_if<bool>(&value)) {
		*data = flag;
		*numBytes = sizeof(bool);
	} else if (const auto* text = std::get_if<std::string>(&value)) {
		*data = text->c_str();
		*numBytes = static_cast<ssize_t>(text->size() + 1);
	} else if (const auto* pointer = std::get_if<const void*>(&value)) {
		*data = pointer;
		*numBytes = sizeof(const void*);
	} else {
		// Refs and messages are objects, not flat bytes.
		return B_BAD_TYPE;
	}
	return B_OK;
}

// ---- replacing -----------------------------------------------------------

status_t BMessage::ReplaceInt32(const char* name, int32 value)
{
	return ReplaceInt32(name, 0, value);
}

status_t BMessage::ReplaceInt32(const char* name, int32 index, int32 value)
{
	return ReplaceValue(name, B_INT32_TYPE, index, value);
}

status_t BMessage::ReplaceInt64(const char* name, int64 value)
{
	return ReplaceInt64(name, 0, value);
}

status_t BMessage::ReplaceInt64(const char* name, int32 index, int64 value)
{
	return ReplaceValue(name, B_INT64_TYPE, index, value);
}

status_t BMessage::ReplaceBool(const char* name, bool value)
{
	return ReplaceBool(name, 0, value);
}

status_t BMessage::ReplaceBool(const char* name, int32 index, bool value)
{
	return ReplaceValue(name, B_BOOL_TYPE, index, value);
}

status_t BMessage::ReplaceString(const char* name, const char* value)
{
	return ReplaceString(name, 0, value);
}

status_t BMessage::ReplaceString(const char* name, int32 index, const char* value)
{
	if (value == nullptr)
		return B_BAD_VALUE;
	return ReplaceValue(name, B_STRING_TYPE, index, std::string(value));
}

status_t BMessage::ReplaceRef(const char* name, const entry_ref* ref)
{
	return ReplaceRef(name, 0, ref);
}

status_t BMessage::ReplaceRef(const char* name, int32 index, const entry_ref* ref)
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	return ReplaceValue(name, B_REF_TYPE, index, *ref);
}

status_t BMessage::ReplacePointer(const char* name, const void* pointer)
{
	return ReplacePointer(name, 0, pointer);
}

status_t BMessage::ReplacePointer(const char* name, int32 index, const void* pointer)
{
	return ReplaceValue(name, B_POINTER_TYPE, index, pointer);
}

status_t BMessage::ReplaceMessage(const char* name, const BMessage* message)
{
	return ReplaceMessage(name, 0, message);
}

status_t BMessage::ReplaceMessage(const char* name, int32 index, const BMessage* message)
{
	if (message == nullptr)
		return B_BAD_VALUE;
	return ReplaceValue(name, B_MESSAGE_TYPE, index, std::make_shared<BMessage>(*message));
}

// ---- the rest ------------------------------------------------------------

status_t BMessage::RemoveName(const char* name)
{
	if (!ValidName(name))
		return B_BAD_VALUE;
	for (auto it = fFields.begin(); it != fFields.end(); ++it) {
		if (it->name == name) {
			fFields.erase(it);
			return B_OK;
		}
	}
	return B_NAME_NOT_FOUND;
}

status_t BMessage::RemoveData(const char* name, int32 index)
{
	if (!ValidName(name))
		return B_BAD_VALUE;
	for (auto it = fFields.begin(); it != fFields.end(); ++it) {
		if (it->name != name)
			continue;
		if (index < 0 || static_cast<size_t>(index) >= it->values.size())
			return B_BAD_INDEX;
		it->values.erase(it->values.begin() + index);
		if (it->values.empty())
			fFields.erase(it);
		return B_OK;
	}
	return B_NAME_NOT_FOUND;
}

status_t BMessage::MakeEmpty()
{
	fFields.clear();
	return B_OK;
}

bool BMessage::IsEmpty() const
{
	return fFields.empty();
}

namespace {

template <typename Message>
bool HasValue(const Message& message, const char* name, type_code type, int32 index)
{
	type_code found = 0;
	int32 count = 0;
	return message.GetInfo(name, &found, &count) == B_OK && found == type && index >= 0
		&& index < count;
}

} // namespace

bool BMessage::HasRef(const char* name, int32 index) const
{
	return HasValue(*this, name, B_REF_TYPE, index);
}

bool BMessage::HasString(const char* name, int32 index) const
{
	return HasValue(*this, name, B_STRING_TYPE, index);
}

bool BMessage::HasInt32(const char* name, int32 index) const
{
	return HasValue(*this, name, B_INT32_TYPE, index);
}

bool BMessage::HasBool(const char* name, int32 index) const
{
	return HasValue(*this, name, B_BOOL_TYPE, index);
}

bool BMessage::HasMessage(const char* name, int32 index) const
{
	return HasValue(*this, name, B_MESSAGE_TYPE, index);
}

status_t BMessage::GetInfo(const char* name, type_code* type, int32* count) const
{
	if (!ValidName(name))
		return B_BAD_VALUE;
	const Field* field = FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (type != nullptr)
		*type = field->type;
	if (count != nullptr)
		*count = static_cast<int32>(field->values.size());
	return B_OK;
}

int32 BMessage::CountNames(type_code type) const
{
	int32 count = 0;
	for (const Field& field : fFields) {
		if (type == B_ANY_TYPE || field.type == type)
			count++;
	}
	return count;
}
