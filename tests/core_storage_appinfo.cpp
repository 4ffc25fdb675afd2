// Application resources in an ELF section: this test executable carries its
// own block, emitted with the same builder the program uses, and reads it
// back from /proc/self/exe, from a copy, and from damaged copies.
#include <AppDefs.h>
#include <AppFileInfo.h>
#include <ResourceFormat.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr std::array<uint8, 1024> MakeLargeIcon()
{
	std::array<uint8, 1024> pixels{};
	for (size_t i = 0; i < pixels.size(); i++)
		pixels[i] = uint8((i * 5) % 256);
	return pixels;
}

constexpr std::array<uint8, 256> MakeMiniIcon()
{
	std::array<uint8, 256> pixels{};
	for (size_t i = 0; i < pixels.size(); i++)
		pixels[i] = uint8(255 - i);
	return pixels;
}

constexpr auto kLargeIcon = MakeLargeIcon();
constexpr auto kMiniIcon = MakeMiniIcon();

constexpr auto kBuild = [](auto& writer) {
	writer.Signature("application/x-vnd.Tamsel-StorageTest");
	writer.AppFlags(B_MULTIPLE_LAUNCH | B_ARGV_ONLY);
	writer.AppVersion(1, 2, 97, B_FINAL_VERSION, 3, "Storage test", "Reads its own resources.");
	writer.Type("application/x-vnd.Be-elfexecutable");
	writer.SupportedType("text/x-TamselGogoFronted-list");
	writer.SupportedType("audio/x-wav");
	writer.LargeIcon(kLargeIcon);
	writer.MiniIcon(kMiniIcon);
};

TAMSEL_RESOURCE_SECTION(kTestResources, kBuild);

void ExpectTestResources(const BAppFileInfo& info)
{
	ASSERT_EQ(info.InitCheck(), B_OK);
	char text[B_MIME_TYPE_LENGTH];
	ASSERT_EQ(info.GetSignature(text), B_OK);
	EXPECT_STREQ(text, "application/x-vnd.Tamsel-StorageTest");
	ASSERT_EQ(info.GetType(text), B_OK);
	EXPECT_STREQ(text, "application/x-vnd.Be-elfexecutable");
	uint32 flags = 0;
	ASSERT_EQ(info.GetAppFlags(&flags), B_OK);
	EXPECT_EQ(flags, uint32(B_MULTIPLE_LAUNCH | B_ARGV_ONLY));
	version_info version;
	ASSERT_EQ(info.GetVersionInfo(&version, B_APP_VERSION_KIND), B_OK);
	EXPECT_EQ(version.major, 1u);
	EXPECT_EQ(version.middle, 2u);
	EXPECT_EQ(version.minor, 97u);
	EXPECT_EQ(version.variety, uint32(B_FINAL_VERSION));
	EXPECT_EQ(version.internal, 3u);
	EXPECT_STREQ(version.short_info, "Storage test");
	EXPECT_STREQ(version.long_info, "Reads its own resources.");
	EXPECT_EQ(info.GetVersionInfo(&version, B_SYSTEM_VERSION_KIND), B_ENTRY_NOT_FOUND);
	std::vector<std::string> types;
	ASSERT_EQ(info.GetSupportedTypes(&types), B_OK);
	EXPECT_EQ(types, (std::vector<std::string>{"text/x-TamselGogoFronted-list", "audio/x-wav"}));

	BBitmap large(BRect(0, 0, 31, 31), B_CMAP8);
	ASSERT_EQ(info.GetIcon(&large, B_LARGE_ICON), B_OK);
	EXPECT_EQ(std::memcmp(large.Bits(), kLargeIcon.data(), 1024), 0);
	BBitmap mini(BRect(0, 0, 15, 15), B_CMAP8);
	ASSERT_EQ(info.GetIcon(&mini, B_MINI_ICON), B_OK);
	EXPECT_EQ(std::memcmp(mini.Bits(), kMiniIcon.data(), 256), 0);
}

std::string SelfExecutable()
{
	return std::filesystem::read_symlink("/proc/self/exe").string();
}

// A reader over bytes in memory, for the parsers alone.
tamsel_rsrc::ReadAt MemoryReader(const std::vector<uint8>& bytes)
{
	return [&bytes](uint64 offset, void* buffer, size_t length) {
		if (offset > bytes.size() || length > bytes.size() - offset)
			return false;
		std::memcpy(buffer, bytes.data() + offset, length);
		return true;
	};
}

// A minimal ELF file of either class and byte order with the sections
// ".shstrtab" and `name`, in the way a linker lays them out.
std::vector<uint8> MakeElf(bool wide, bool big, const std::string& name,
	const std::vector<uint8>& contents, bool extendedCount = false)
{
	std::vector<uint8> file(wide ? 64 : 52, 0);
	auto put = [&](size_t offset, uint64 value, int size) {
		if (file.size() < offset + size_t(size))
			file.resize(offset + size_t(size), 0);
		for (int i = 0; i < size; i++) {
			int shift = big ? 8 * (size - 1 - i) : 8 * i;
			file[offset + size_t(i)] = uint8(value >> shift);
		}
	};
	std::memcpy(file.data(), "\x7f" "ELF", 4);
	file[4] = wide ? 2 : 1;
	file[5] = big ? 2 : 1;
	file[6] = 1;

	const size_t dataOffset = file.size();
	file.insert(file.end(), contents.begin(), contents.end());
	std::string names = std::string("\0.shstrtab\0", 11) + name + '\0';
	const size_t namesOffset = file.size();
	file.insert(file.end(), names.begin(), names.end());
	const size_t headersOffset = file.size();
	const size_t entrySize = wide ? 64 : 40;
	file.resize(headersOffset + 3 * entrySize, 0);

	auto section = [&](size_t index, uint32 nameOffset, uint32 type, uint64 offset,
					   uint64 size, uint32 link) {
		size_t at = headersOffset + index * entrySize;
		put(at, nameOffset, 4);
		put(at + 4, type, 4);
		put(at + (wide ? 24 : 16), offset, wide ? 8 : 4);
		put(at + (wide ? 32 : 20), size, wide ? 8 : 4);
		put(at + (wide ? 40 : 24), link, 4);
	};
	// Section 0 is the null section; it carries the real count and string
	// table index when the header cannot.
	section(0, 0, 0, 0, extendedCount ? 3 : 0, extendedCount ? 1 : 0);
	section(1, 1, 3, namesOffset, names.size(), 0);
	section(2, 11, 1, dataOffset, contents.size(), 0);

	put(wide ? 40 : 32, headersOffset, wide ? 8 : 4);
	const size_t tail = wide ? 58 : 46;
	put(tail, entrySize, 2);
	put(tail + 2, extendedCount ? 0 : 3, 2);
	put(tail + 4, extendedCount ? 0xffff : 1, 2);
	return file;
}

std::vector<uint8> BlockBytes()
{
	return std::vector<uint8>(kTestResources.begin(), kTestResources.end());
}

} // namespace

TEST(StorageAppInfo, ReadsTheResourcesOfTheRunningExecutable)
{
	BFile self("/proc/self/exe", B_READ_ONLY);
	ASSERT_EQ(self.InitCheck(), B_OK);
	BAppFileInfo info(&self);
	ExpectTestResources(info);
}

TEST(StorageAppInfo, ACopyCarriesTheSameResources)
{
	TempDir dir;
	const std::string copy = dir / "copy";
	std::filesystem::copy_file(SelfExecutable(), copy);
	BFile file(copy.c_str(), B_READ_ONLY);
	BAppFileInfo info;
	EXPECT_EQ(info.SetTo(&file), B_OK);
	ExpectTestResources(info);
}

TEST(StorageAppInfo, FilesWithoutResources)
{
	TempDir dir;
	ASSERT_TRUE(WriteFile(dir / "text", "#!/bin/sh\necho hi\n"));
	ASSERT_TRUE(WriteFile(dir / "empty", ""));
	for (const std::string& path : {std::string("/bin/sh"), dir / "text", dir / "empty"}) {
		BFile file(path.c_str(), B_READ_ONLY);
		ASSERT_EQ(file.InitCheck(), B_OK) << path;
		BAppFileInfo info(&file);
		EXPECT_EQ(info.InitCheck(), B_ENTRY_NOT_FOUND) << path;
		char signature[B_MIME_TYPE_LENGTH];
		EXPECT_EQ(info.GetSignature(signature), B_ENTRY_NOT_FOUND);
		BBitmap icon(BRect(0, 0, 31, 31), B_CMAP8);
		EXPECT_EQ(info.GetIcon(&icon, B_LARGE_ICON), B_ENTRY_NOT_FOUND);
	}
	BFile closed;
	EXPECT_EQ(BAppFileInfo(&closed).InitCheck(), B_NO_INIT);
	EXPECT_EQ(BAppFileInfo(nullptr).InitCheck(), B_BAD_VALUE);
	EXPECT_EQ(BAppFileInfo().InitCheck(), B_NO_INIT);
}

TEST(StorageAppInfo, IconsMustBeCmap8OfTheRightSize)
{
	BFile self("/proc/self/exe", B_READ_ONLY);
	BAppFileInfo info(&self);
	BBitmap wrongSize(BRect(0, 0, 15, 15), B_CMAP8);
	EXPECT_EQ(info.GetIcon(&wrongSize, B_LARGE_ICON), B_BAD_VALUE);
	BBitmap wrongSpace(BRect(0, 0, 31, 31), B_RGB32);
	EXPECT_EQ(info.GetIcon(&wrongSpace, B_LARGE_ICON), B_BAD_VALUE);
	BBitmap large(BRect(0, 0, 31, 31), B_CMAP8);
	EXPECT_EQ(info.GetIcon(&large, icon_size(24)), B_BAD_VALUE);
	EXPECT_EQ(info.GetIcon(nullptr, B_LARGE_ICON), B_BAD_VALUE);
}

TEST(StorageAppInfo, TheProgramsOwnResourcesObject)
{
	// The program's resource object, when the build has made it, holds the
	// identity the application starts with.
	const std::string object = std::string(TAMSEL_BINARY_DIR)
		+ "/CMakeFiles/tamsel_resources.dir/resources/AppResources.cpp.o";
	BFile file(object.c_str(), B_READ_ONLY);
	if (file.InitCheck() != B_OK)
		GTEST_SKIP() << "the resource object is not built";
	BAppFileInfo info(&file);
	ASSERT_EQ(info.InitCheck(), B_OK);
	char text[B_MIME_TYPE_LENGTH];
	ASSERT_EQ(info.GetSignature(text), B_OK);
	EXPECT_STREQ(text, "application/x-vnd.TamselGogoFrontend");
	uint32 flags = 0;
	ASSERT_EQ(info.GetAppFlags(&flags), B_OK);
	EXPECT_EQ(flags, uint32(B_MULTIPLE_LAUNCH));
	version_info version;
	ASSERT_EQ(info.GetVersionInfo(&version, B_APP_VERSION_KIND), B_OK);
	EXPECT_EQ(version.major, 1u);
	EXPECT_EQ(version.middle, 2u);
	EXPECT_EQ(version.minor, 97u);
	EXPECT_EQ(version.variety, uint32(B_FINAL_VERSION));
	EXPECT_EQ(version.internal, 0u);
	EXPECT_STREQ(version.short_info, "Tamsel Gogo Frontend");
	EXPECT_STREQ(version.long_info, "Simple GUI frontend for Gogo, the open source MP3 encoder.");
	ASSERT_EQ(info.GetType(text), B_OK);
	EXPECT_STREQ(text, "application/x-vnd.Be-elfexecutable");
	std::vector<std::string> types;
	ASSERT_EQ(info.GetSupportedTypes(&types), B_OK);
	EXPECT_EQ(types, std::vector<std::string>{"text/x-TamselGogoFronted-list"});
	BBitmap large(BRect(0, 0, 31, 31), B_CMAP8);
	BBitmap mini(BRect(0, 0, 15, 15), B_CMAP8);
	ASSERT_EQ(info.GetIcon(&large, B_LARGE_ICON), B_OK);
	ASSERT_EQ(info.GetIcon(&mini, B_MINI_ICON), B_OK);
	// Drawn, not blank: both transparent and opaque pixels.
	const uint8* bits = static_cast<const uint8*>(large.Bits());
	int transparent = 0;
	for (int i = 0; i < 1024; i++)
		transparent += bits[i] == B_TRANSPARENT_MAGIC_CMAP8;
	EXPECT_GT(transparent, 200);
	EXPECT_LT(transparent, 1000);
}

TEST(StorageAppInfo, TruncatedCopiesNeverCrash)
{
	const std::string executable = ReadFile(SelfExecutable());
	ASSERT_GT(executable.size(), 4096u);
	TempDir dir;
	const std::string path = dir / "cut";
	std::vector<size_t> sizes = {0, 1, 4, 15, 16, 17, 51, 52, 63, 64, 65, 200, 4096,
		executable.size() / 2, executable.size() - 64, executable.size() - 1};
	for (size_t size : sizes) {
		ASSERT_TRUE(WriteFile(path, executable.substr(0, size)));
		BFile file(path.c_str(), B_READ_ONLY);
		BAppFileInfo info(&file);
		// The section headers sit at the end: every cut loses them.
		EXPECT_NE(info.InitCheck(), B_OK) << size;
	}
}

TEST(StorageAppInfo, ElfOfEitherClassAndByteOrder)
{
	const std::vector<uint8> block = BlockBytes();
	for (bool wide : {false, true}) {
		for (bool big : {false, true}) {
			for (bool extended : {false, true}) {
				std::vector<uint8> elf = MakeElf(wide, big, tamsel_rsrc::kSectionName, block, extended);
				std::vector<uint8> section;
				EXPECT_EQ(tamsel_rsrc::find_elf_section(MemoryReader(elf), elf.size(),
							  tamsel_rsrc::kSectionName, &section), B_OK)
					<< wide << big << extended;
				EXPECT_EQ(section, block);
				EXPECT_EQ(tamsel_rsrc::find_elf_section(MemoryReader(elf), elf.size(),
							  ".tamsel_rsrc2", &section), B_ENTRY_NOT_FOUND);
				EXPECT_EQ(tamsel_rsrc::find_elf_section(MemoryReader(elf), elf.size(),
							  ".tamsel", &section), B_ENTRY_NOT_FOUND)
					<< "a prefix of the name is another name";
			}
		}
	}
	std::vector<uint8> notElf(100, 'x');
	std::vector<uint8> section;
	EXPECT_EQ(tamsel_rsrc::find_elf_section(MemoryReader(notElf), notElf.size(), ".x", &section),
		B_BAD_TYPE);
}

TEST(StorageAppInfo, DamagedElfHeadersNeverCrash)
{
	const std::vector<uint8> block = BlockBytes();
	const std::vector<uint8> original = MakeElf(true, false, tamsel_rsrc::kSectionName, block);
	std::mt19937 random(1234);
	int found = 0;
	for (int round = 0; round < 20000; round++) {
		std::vector<uint8> elf = original;
		int flips = 1 + int(random() % 4);
		for (int i = 0; i < flips; i++) {
			// Mostly the headers, where lies about sizes and offsets live.
			size_t at = random() % 2 ? random() % 64 : elf.size() - 1 - random() % (3 * 64);
			elf[at] = uint8(random());
		}
		if (random() % 8 == 0)
			elf.resize(random() % elf.size());
		std::vector<uint8> section;
		status_t status = tamsel_rsrc::find_elf_section(MemoryReader(elf), elf.size(),
			tamsel_rsrc::kSectionName, &section);
		if (status == B_OK) {
			found++;
			ASSERT_LE(section.size(), elf.size());
			tamsel_rsrc::Contents contents;
			tamsel_rsrc::parse_block(section.data(), section.size(), &contents);
		}
	}
	EXPECT_GT(found, 0) << "some damage leaves the section readable";
}

TEST(StorageAppInfo, BlockParserChecksEveryRecord)
{
	tamsel_rsrc::Contents contents;
	std::vector<uint8> block = BlockBytes();
	ASSERT_EQ(tamsel_rsrc::parse_block(block.data(), block.size(), &contents), B_OK);
	EXPECT_EQ(contents.signature, "application/x-vnd.Tamsel-StorageTest");
	EXPECT_TRUE(contents.hasAppFlags);
	EXPECT_EQ(contents.largeIcon.size(), 1024u);

	// Every cut of a valid block is refused, none is misread.
	for (size_t size = 0; size < block.size(); size++)
		EXPECT_NE(tamsel_rsrc::parse_block(block.data(), size, &contents), B_OK) << size;
	// Padding after the block, or a second block, is not read.
	std::vector<uint8> padded = block;
	padded.resize(block.size() + 32, 0);
	EXPECT_EQ(tamsel_rsrc::parse_block(padded.data(), padded.size(), &contents), B_OK);

	std::vector<uint8> bad = block;
	bad[0] = 'X';
	EXPECT_EQ(tamsel_rsrc::parse_block(bad.data(), bad.size(), &contents), B_BAD_DATA);
	bad = block;
	bad[4] = 2;
	EXPECT_EQ(tamsel_rsrc::parse_block(bad.data(), bad.size(), &contents), B_BAD_TYPE);

	// Records built at run time with the same writer.
	auto build = [](auto&& fill) {
		tamsel_rsrc::SectionWriter<0> counter;
		fill(counter);
		std::vector<uint8> bytes(counter.Size());
		tamsel_rsrc::SectionWriter<4096> writer;
		fill(writer);
		auto array = writer.Bytes();
		std::copy(array.begin(), array.begin() + std::ptrdiff_t(bytes.size()), bytes.begin());
		return bytes;
	};
	std::vector<uint8> minimal = build([](auto& w) { w.Signature("application/x-vnd.min"); });
	ASSERT_EQ(tamsel_rsrc::parse_block(minimal.data(), minimal.size(), &contents), B_OK);
	EXPECT_TRUE(contents.hasSignature);
	EXPECT_FALSE(contents.hasAppFlags);
	EXPECT_FALSE(contents.hasAppVersion);
	EXPECT_TRUE(contents.largeIcon.empty());

	// A record of an unknown tag is skipped; a known one of the wrong size is not.
	std::vector<uint8> unknown = minimal;
	const uint8 extra[] = {'Z', 'Z', 'Z', 'Z', 2, 0, 0, 0, 'h', 'i'};
	unknown.insert(unknown.end(), std::begin(extra), std::end(extra));
	uint32 recordBytes = uint32(unknown.size() - tamsel_rsrc::kBlockHeaderSize);
	std::memcpy(unknown.data() + 8, &recordBytes, 4);
	EXPECT_EQ(tamsel_rsrc::parse_block(unknown.data(), unknown.size(), &contents), B_OK);
	std::vector<uint8> shortFlags = minimal;
	const uint8 flagRecord[] = {'G', 'A', 'L', 'F', 2, 0, 0, 0, 1, 0};
	shortFlags.insert(shortFlags.end(), std::begin(flagRecord), std::end(flagRecord));
	recordBytes = uint32(shortFlags.size() - tamsel_rsrc::kBlockHeaderSize);
	std::memcpy(shortFlags.data() + 8, &recordBytes, 4);
	EXPECT_EQ(tamsel_rsrc::parse_block(shortFlags.data(), shortFlags.size(), &contents), B_BAD_DATA);
	// A NUL inside a string is refused.
	std::vector<uint8> withNul = minimal;
	withNul[tamsel_rsrc::kBlockHeaderSize + tamsel_rsrc::kRecordHeaderSize + 3] = 0;
	EXPECT_EQ(tamsel_rsrc::parse_block(withNul.data(), withNul.size(), &contents), B_BAD_DATA);
	// A record longer than the block is refused.
	std::vector<uint8> lying = minimal;
	lying[tamsel_rsrc::kBlockHeaderSize + 4] = 0xff;
	EXPECT_EQ(tamsel_rsrc::parse_block(lying.data(), lying.size(), &contents), B_BAD_DATA);
}
