// BMessage: typed fields, several values per name, the platform's error
// results, and copies that do not share anything with the original.
#include <Message.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

entry_ref MakeRef(const char* name)
{
	return entry_ref(3, 42, name, "/tmp/somewhere");
}

TEST(Message, EveryTypeRoundTripsUnderItsName)
{
	BMessage message('TEST');
	EXPECT_EQ(message.what, uint32('TEST'));
	EXPECT_TRUE(message.IsEmpty());

	int marker = 0;
	BMessage nested('NEST');
	nested.AddString("inner", "deep");
	const uint8 raw[] = {0, 1, 2, 255, 0};
	const entry_ref ref = MakeRef("song.wav");

	ASSERT_EQ(message.AddInt32("i32", -7), B_OK);
	ASSERT_EQ(message.AddInt64("i64", INT64_C(1) << 40), B_OK);
	ASSERT_EQ(message.AddBool("flag", true), B_OK);
	ASSERT_EQ(message.AddString("text", "hello"), B_OK);
	ASSERT_EQ(message.AddString("stdtext", std::string("world")), B_OK);
	ASSERT_EQ(message.AddRef("refs", &ref), B_OK);
	ASSERT_EQ(message.AddPointer("ptr", &marker), B_OK);
	ASSERT_EQ(message.AddMessage("msg", &nested), B_OK);
	ASSERT_EQ(message.AddData("blob", 'BLOB', raw, sizeof(raw)), B_OK);
	EXPECT_FALSE(message.IsEmpty());

	int32 i32 = 0;
	int64 i64 = 0;
	bool flag = false;
	const char* text = nullptr;
	std::string stdText;
	entry_ref foundRef;
	void* pointer = nullptr;
	BMessage foundNested;
	const void* data = nullptr;
	ssize_t size = 0;
	EXPECT_EQ(message.FindInt32("i32", &i32), B_OK);
	EXPECT_EQ(i32, -7);
	EXPECT_EQ(message.FindInt64("i64", &i64), B_OK);
	EXPECT_EQ(i64, INT64_C(1) << 40);
	EXPECT_EQ(message.FindBool("flag", &flag), B_OK);
	EXPECT_TRUE(flag);
	EXPECT_EQ(message.FindString("text", &text), B_OK);
	EXPECT_STREQ(text, "hello");
	EXPECT_EQ(message.FindString("stdtext", &stdText), B_OK);
	EXPECT_EQ(stdText, "world");
	EXPECT_EQ(message.FindRef("refs", &foundRef), B_OK);
	EXPECT_EQ(foundRef, ref);
	EXPECT_EQ(foundRef.Path(), "/tmp/somewhere/song.wav");
	EXPECT_EQ(message.FindPointer("ptr", &pointer), B_OK);
	EXPECT_EQ(pointer, &marker);
	EXPECT_EQ(message.FindMessage("msg", &foundNested), B_OK);
	EXPECT_EQ(foundNested.what, uint32('NEST'));
	EXPECT_EQ(foundNested.FindString("inner", &text), B_OK);
	EXPECT_STREQ(text, "deep");
	EXPECT_EQ(message.FindData("blob", 'BLOB', 0, &data, &size), B_OK);
	ASSERT_EQ(size, ssize_t(sizeof(raw)));
	EXPECT_EQ(std::memcmp(data, raw, sizeof(raw)), 0);

	type_code type = 0;
	int32 count = 0;
	EXPECT_EQ(message.GetInfo("refs", &type, &count), B_OK);
	EXPECT_EQ(type, B_REF_TYPE);
	EXPECT_EQ(count, 1);
	EXPECT_EQ(message.CountNames(B_ANY_TYPE), 9);
	EXPECT_EQ(message.CountNames(B_STRING_TYPE), 2);
	EXPECT_TRUE(message.HasRef("refs"));
	EXPECT_FALSE(message.HasRef("text"));
}

TEST(Message, TypedDataAddedRawReadsBackTyped)
{
	BMessage message;
	const int32 value = 1234;
	ASSERT_EQ(message.AddData("n", B_INT32_TYPE, &value, sizeof(value)), B_OK);
	int32 found = 0;
	EXPECT_EQ(message.FindInt32("n", &found), B_OK);
	EXPECT_EQ(found, value);
	// The wrong size for the type is refused rather than misread.
	EXPECT_EQ(message.AddData("n", B_INT32_TYPE, &value, 2), B_BAD_VALUE);

	const void* data = nullptr;
	ssize_t size = 0;
	message.AddString("s", "abc");
	EXPECT_EQ(message.FindData("s", B_STRING_TYPE, 0, &data, &size), B_OK);
	EXPECT_EQ(size, 4);
	EXPECT_STREQ(static_cast<const char*>(data), "abc");
	EXPECT_EQ(message.FindData("s", B_ANY_TYPE, 0, &data, &size), B_OK);
}

TEST(Message, SeveralValuesPerNameKeepTheirOrder)
{
	BMessage message;
	const entry_ref refs[] = {MakeRef("a"), MakeRef("b"), MakeRef("c")};
	for (const entry_ref& ref : refs)
		ASSERT_EQ(message.AddRef("refs", &ref), B_OK);
	for (int32 i = 0; i < 100; i++)
		ASSERT_EQ(message.AddInt32("n", i * 3), B_OK);

	int32 count = 0;
	ASSERT_EQ(message.GetInfo("refs", nullptr, &count), B_OK);
	EXPECT_EQ(count, 3);
	for (int32 i = 0; i < 3; i++) {
		entry_ref ref;
		ASSERT_EQ(message.FindRef("refs", i, &ref), B_OK);
		EXPECT_EQ(ref, refs[i]);
	}
	int32 value = -1;
	EXPECT_EQ(message.FindInt32("n", 99, &value), B_OK);
	EXPECT_EQ(value, 297);

	// Removing a value moves the later ones down; removing the last one
	// removes the name.
	EXPECT_EQ(message.RemoveData("refs", 1), B_OK);
	entry_ref ref;
	EXPECT_EQ(message.FindRef("refs", 1, &ref), B_OK);
	EXPECT_EQ(ref, refs[2]);
	EXPECT_EQ(message.RemoveData("refs", 5), B_BAD_INDEX);
	EXPECT_EQ(message.RemoveData("refs", 0), B_OK);
	EXPECT_EQ(message.RemoveData("refs", 0), B_OK);
	EXPECT_EQ(message.GetInfo("refs", nullptr, &count), B_NAME_NOT_FOUND);
	EXPECT_EQ(message.RemoveName("n"), B_OK);
	EXPECT_EQ(message.RemoveName("n"), B_NAME_NOT_FOUND);
	EXPECT_TRUE(message.IsEmpty());
}

TEST(Message, ErrorResultsOfFindAddAndReplace)
{
	BMessage message;
	message.AddInt32("number", 5);
	message.AddString("word", "five");

	int32 number = 77;
	const char* text = nullptr;
	bool flag = false;
	// No such field / another type / past the end.
	EXPECT_EQ(message.FindInt32("missing", &number), B_NAME_NOT_FOUND);
	EXPECT_EQ(message.FindInt32("word", &number), B_BAD_TYPE);
	EXPECT_EQ(message.FindString("number", &text), B_BAD_TYPE);
	EXPECT_EQ(message.FindBool("number", &flag), B_BAD_TYPE);
	EXPECT_EQ(message.FindInt32("number", 1, &number), B_BAD_INDEX);
	EXPECT_EQ(message.FindInt32("number", -1, &number), B_BAD_INDEX);
	EXPECT_EQ(number, 77) << "a failed find leaves the output alone";

	// A name keeps its type.
	EXPECT_EQ(message.AddString("number", "six"), B_BAD_TYPE);
	EXPECT_EQ(message.AddBool("word", true), B_BAD_TYPE);
	int32 count = 0;
	message.GetInfo("number", nullptr, &count);
	EXPECT_EQ(count, 1);

	// Replacing follows the same rules and changes only the given value.
	message.AddInt32("number", 6);
	EXPECT_EQ(message.ReplaceInt32("number", 1, 60), B_OK);
	EXPECT_EQ(message.FindInt32("number", 0, &number), B_OK);
	EXPECT_EQ(number, 5);
	EXPECT_EQ(message.FindInt32("number", 1, &number), B_OK);
	EXPECT_EQ(number, 60);
	EXPECT_EQ(message.ReplaceInt32("number", 2, 1), B_BAD_INDEX);
	EXPECT_EQ(message.ReplaceInt32("missing", 1), B_NAME_NOT_FOUND);
	EXPECT_EQ(message.ReplaceString("number", "x"), B_BAD_TYPE);
	EXPECT_EQ(message.ReplaceString("word", "FIVE"), B_OK);
	EXPECT_EQ(message.FindString("word", &text), B_OK);
	EXPECT_STREQ(text, "FIVE");
	EXPECT_EQ(message.ReplaceBool("missing", true), B_NAME_NOT_FOUND);

	// Null names and pointers are refused, never dereferenced.
	EXPECT_EQ(message.AddInt32(nullptr, 1), B_BAD_VALUE);
	EXPECT_EQ(message.AddString("x", static_cast<const char*>(nullptr)), B_BAD_VALUE);
	EXPECT_EQ(message.AddRef("x", nullptr), B_BAD_VALUE);
	EXPECT_EQ(message.AddMessage("x", nullptr), B_BAD_VALUE);
	EXPECT_EQ(message.AddData("x", B_RAW_TYPE, nullptr, 10), B_BAD_VALUE);
	EXPECT_EQ(message.AddData("x", B_RAW_TYPE, "abc", -1), B_BAD_VALUE);
	EXPECT_EQ(message.FindInt32(nullptr, &number), B_BAD_VALUE);
	EXPECT_EQ(message.FindInt32("number", static_cast<int32*>(nullptr)), B_BAD_VALUE);
	EXPECT_EQ(message.FindString("word", static_cast<const char**>(nullptr)), B_BAD_VALUE);
	EXPECT_EQ(message.FindRef("x", nullptr), B_BAD_VALUE);
	EXPECT_EQ(message.FindData("x", B_RAW_TYPE, 0, nullptr, nullptr), B_BAD_VALUE);
	EXPECT_EQ(message.ReplaceInt32(nullptr, 1), B_BAD_VALUE);
	EXPECT_EQ(message.RemoveName(nullptr), B_BAD_VALUE);
	EXPECT_EQ(message.GetInfo(nullptr, nullptr), B_BAD_VALUE);
	EXPECT_FALSE(message.HasString(nullptr));
	EXPECT_FALSE(message.HasInt32("number", -3));
	EXPECT_EQ(message.CountNames(B_ANY_TYPE), 2) << "refused calls add nothing";
}

TEST(Message, FoundStringStaysValidWhileTheMessageIsUnchanged)
{
	BMessage message;
	message.AddString("name", "a string long enough to live on the heap, not inline");
	const char* first = nullptr;
	ASSERT_EQ(message.FindString("name", &first), B_OK);
	// Reading other fields and copying the message leave it untouched.
	BMessage copy(message);
	int32 ignored;
	message.FindInt32("name", &ignored);
	const char* again = nullptr;
	ASSERT_EQ(message.FindString("name", &again), B_OK);
	EXPECT_EQ(first, again);
	EXPECT_STREQ(first, "a string long enough to live on the heap, not inline");
}

TEST(Message, CopiesAreDeepAndIndependent)
{
	BMessage inner('INNR');
	inner.AddInt32("depth", 1);
	BMessage original('ORIG');
	original.AddMessage("inner", &inner);
	original.AddString("s", "one");
	original.AddInt32("n", 1);

	BMessage copy(original);
	copy.ReplaceString("s", "two");
	copy.AddInt32("n", 2);
	BMessage changedInner('CHNG');
	copy.ReplaceMessage("inner", &changedInner);

	const char* text = nullptr;
	ASSERT_EQ(original.FindString("s", &text), B_OK);
	EXPECT_STREQ(text, "one");
	int32 count = 0;
	original.GetInfo("n", nullptr, &count);
	EXPECT_EQ(count, 1);
	BMessage found;
	ASSERT_EQ(original.FindMessage("inner", &found), B_OK);
	EXPECT_EQ(found.what, uint32('INNR'));

	BMessage assigned;
	assigned.AddBool("old", true);
	assigned = copy;
	EXPECT_FALSE(assigned.HasBool("old"));
	EXPECT_EQ(assigned.what, uint32('ORIG'));
	ASSERT_EQ(assigned.FindString("s", &text), B_OK);
	EXPECT_STREQ(text, "two");
	ASSERT_EQ(assigned.FindMessage("inner", &found), B_OK);
	EXPECT_EQ(found.what, uint32('CHNG'));

	// Self-assignment and finding a nested message into its own container.
	assigned = *&assigned;
	EXPECT_EQ(assigned.CountNames(B_ANY_TYPE), 3);
	ASSERT_EQ(assigned.FindMessage("inner", &assigned), B_OK);
	EXPECT_EQ(assigned.what, uint32('CHNG'));
	EXPECT_TRUE(assigned.IsEmpty());

	BMessage moved(std::move(copy));
	EXPECT_TRUE(moved.HasString("s"));
	EXPECT_EQ(moved.MakeEmpty(), B_OK);
	EXPECT_TRUE(moved.IsEmpty());
}

} // namespace
