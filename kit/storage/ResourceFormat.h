// Kit-private: the application resources that an executable carries in its
// ELF section ".tamsel_rsrc", how a program emits them at build time and how
// BAppFileInfo reads them back from the file.
//
// The section holds one block, all numbers little-endian:
//   magic "TRSC", uint16 format version (1), uint16 zero,
//   uint32 size of the records that follow, then the records:
//   uint32 tag, uint32 size of the payload, the payload (no padding).
// Records of unknown tags are skipped; each known one is checked whole.
//
//   SIGN  the application's signature (no NUL), < B_MIME_TYPE_LENGTH bytes
//   FLAG  uint32 application flags
//   APPV, SYSV  the application's and the system's version:
//         uint32 major, middle, minor, variety, internal,
//         uint32 size + bytes of the short info (< 64),
//         uint32 size + bytes of the long info (< 256)
//   TYPE  the MIME type of the executable
//   STYP  a supported MIME type (one record each)
//   ICNL  the large icon, 32x32 B_CMAP8, 1024 bytes, row by row
//   ICNM  the mini icon, 16x16 B_CMAP8, 256 bytes
//
// A program emits its block with a builder, evaluated by the compiler:
//
//   constexpr auto kBuild = [](auto& w) {
//       w.Signature("application/x-vnd.Example");
//       w.AppFlags(B_MULTIPLE_LAUNCH);
//       ...
//   };
//   TAMSEL_RESOURCE_SECTION(kResources, kBuild);
#pragma once

#include <AppFileInfo.h>
#include <StorageDefs.h>
#include <SupportDefs.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel_rsrc {

inline constexpr char kSectionName[] = ".tamsel_rsrc";
inline constexpr uint8 kMagic[4] = {'T', 'R', 'S', 'C'};
inline constexpr uint16 kFormatVersion = 1;
inline constexpr size_t kBlockHeaderSize = 12;
inline constexpr size_t kRecordHeaderSize = 8;
inline constexpr size_t kLargeIconBytes = 32 * 32;
inline constexpr size_t kMiniIconBytes = 16 * 16;
inline constexpr size_t kMaxShortInfo = sizeof(version_info::short_info) - 1;
inline constexpr size_t kMaxLongInfo = sizeof(version_info::long_info) - 1;
inline constexpr size_t kMaxTypeLength = B_MIME_TYPE_LENGTH - 1;

enum Tag : uint32 {
	kTagSignature = FourCC("SIGN"),
	kTagAppFlags = FourCC("FLAG"),
	kTagAppVersion = FourCC("APPV"),
	kTagSystemVersion = FourCC("SYSV"),
	kTagType = FourCC("TYPE"),
	kTagSupportedType = FourCC("STYP"),
	kTagLargeIcon = FourCC("ICNL"),
	kTagMiniIcon = FourCC("ICNM"),
};

// Writes a block. With Capacity 0 it only counts, so that the size of the
// real array can be known first. Out-of-bounds input stops compilation.
template <size_t Capacity>
class SectionWriter {
public:
	constexpr SectionWriter()
	{
		for (uint8 byte : kMagic)
			Put(byte);
		Put16(kFormatVersion);
		Put16(0);
		Put32(0); // patched by Bytes()
	}

	constexpr void Signature(std::string_view signature) { Text(kTagSignature, signature, kMaxTypeLength); }
	constexpr void AppFlags(uint32 flags)
	{
		Header(kTagAppFlags, 4);
		Put32(flags);
	}
	constexpr void AppVersion(uint32 major, uint32 middle, uint32 minor, uint32 variety,
		uint32 internal, std::string_view shortInfo, std::string_view longInfo)
	{
		Version(kTagAppVersion, major, middle, minor, variety, internal, shortInfo, longInfo);
	}
	constexpr void SystemVersion(uint32 major, uint32 middle, uint32 minor, uint32 variety,
		uint32 internal, std::string_view shortInfo, std::string_view longInfo)
	{
		Version(kTagSystemVersion, major, middle, minor, variety, internal, shortInfo, longInfo);
	}
	constexpr void Type(std::string_view type) { Text(kTagType, type, kMaxTypeLength); }
	constexpr void SupportedType(std::string_view type) { Text(kTagSupportedType, type, kMaxTypeLength); }
	constexpr void LargeIcon(const std::array<uint8, kLargeIconBytes>& bits)
	{
		Header(kTagLargeIcon, bits.size());
		for (uint8 byte : bits)
			Put(byte);
	}
	constexpr void MiniIcon(const std::array<uint8, kMiniIconBytes>& bits)
	{
		Header(kTagMiniIcon, bits.size());
		for (uint8 byte : bits)
			Put(byte);
	}

	constexpr size_t Size() const { return fSize; }
	constexpr std::array<uint8, (Capacity > 0 ? Capacity : 1)> Bytes() const
	{
		auto bytes = fBytes;
		uint32 recordBytes = uint32(fSize - kBlockHeaderSize);
		for (int i = 0; i < 4; i++)
			bytes[8 + i] = uint8(recordBytes >> (8 * i));
		return bytes;
	}

private:
	constexpr void Put(uint8 byte)
	{
		if constexpr (Capacity > 0) {
			if (fSize >= Capacity)
				throw "resource block larger than counted";
			fBytes[fSize] = byte;
		}
		fSize++;
	}
	constexpr void Put16(uint16 value)
	{
		Put(uint8(value));
		Put(uint8(value >> 8));
	}
	constexpr void Put32(uint32 value)
	{
		for (int i = 0; i < 4; i++)
			Put(uint8(value >> (8 * i)));
	}
	constexpr void Header(uint32 tag, size_t size)
	{
		Put32(tag);
		Put32(uint32(size));
	}
	constexpr void PutText(std::string_view text)
	{
		for (char c : text) {
			if (c == '\0')
				throw "resource strings hold no NUL";
			Put(uint8(c));
		}
	}
	constexpr void Text(uint32 tag, std::string_view text, size_t maxLength)
	{
		if (text.size() > maxLength)
			throw "resource string too long";
		Header(tag, text.size());
		PutText(text);
	}
	constexpr void Version(uint32 tag, uint32 major, uint32 middle, uint32 minor,
		uint32 variety, uint32 internal, std::string_view shortInfo, std::string_view longInfo)
	{
		if (shortInfo.size() > kMaxShortInfo || longInfo.size() > kMaxLongInfo)
			throw "version info too long";
		Header(tag, 5 * 4 + 4 + shortInfo.size() + 4 + longInfo.size());
		Put32(major);
		Put32(middle);
		Put32(minor);
		Put32(variety);
		Put32(internal);
		Put32(uint32(shortInfo.size()));
		PutText(shortInfo);
		Put32(uint32(longInfo.size()));
		PutText(longInfo);
	}

	std::array<uint8, (Capacity > 0 ? Capacity : 1)> fBytes{};
	size_t fSize = 0;
};

template <typename Build>
constexpr size_t section_size(Build build)
{
	SectionWriter<0> writer;
	build(writer);
	return writer.Size();
}

template <size_t Size, typename Build>
constexpr std::array<uint8, Size> build_section(Build build)
{
	SectionWriter<Size> writer;
	build(writer);
	if (writer.Size() != Size)
		throw "resource block size changed between passes";
	return writer.Bytes();
}

#if defined(__has_attribute)
#if __has_attribute(retain)
#define TAMSEL_RESOURCE_RETAIN , retain
#endif
#endif
#ifndef TAMSEL_RESOURCE_RETAIN
#define TAMSEL_RESOURCE_RETAIN
#endif

// Defines the constant `name` in the resource section of the object file;
// `used` (and `retain`, where known) keep it although nothing refers to it.
#define TAMSEL_RESOURCE_SECTION(name, build) \
	__attribute__((used, section(".tamsel_rsrc") TAMSEL_RESOURCE_RETAIN)) \
	constexpr std::array<uint8, ::tamsel_rsrc::section_size(build)> name \
		= ::tamsel_rsrc::build_section<::tamsel_rsrc::section_size(build)>(build)

// What a block holds, once read and checked.
struct Contents {
	std::string signature;
	bool hasSignature = false;
	uint32 appFlags = 0;
	bool hasAppFlags = false;
	version_info appVersion;
	bool hasAppVersion = false;
	version_info systemVersion;
	bool hasSystemVersion = false;
	std::string type;
	bool hasType = false;
	std::vector<std::string> supportedTypes;
	std::vector<uint8> largeIcon;
	std::vector<uint8> miniIcon;
};

// Reads the block at the start of a section's bytes. B_BAD_DATA for anything
// malformed, B_BAD_TYPE for a block of an unknown format version.
status_t parse_block(const uint8* data, size_t size, Contents* contents);

// Reads `length` bytes at `offset` of the file; false when it cannot.
using ReadAt = std::function<bool(uint64 offset, void* buffer, size_t length)>;

// Finds the section `name` of an ELF file (32 or 64 bits, either byte order)
// of `fileSize` bytes and copies its bytes. B_ENTRY_NOT_FOUND when the file
// has no such section, B_BAD_TYPE when it is not ELF, B_BAD_DATA when its
// headers do not fit the file, B_IO_ERROR when reading fails.
status_t find_elf_section(const ReadAt& read, uint64 fileSize, const char* name,
	std::vector<uint8>* data);

} // namespace tamsel_rsrc
