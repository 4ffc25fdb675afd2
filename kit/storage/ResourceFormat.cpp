#include "ResourceFormat.h"

#include <cstring>

namespace tamsel_rsrc {

namespace {

// Reads little-endian numbers from a bounded byte range; every read is
// checked against the end, so a short or lying block cannot run past it.
class Cursor {
public:
	Cursor(const uint8* data, size_t size) : fData(data), fSize(size) {}

	size_t Remaining() const { return fSize - fPosition; }
	bool Read32(uint32* value)
	{
		if (Remaining() < 4)
			return false;
		const uint8* p = fData + fPosition;
		*value = uint32(p[0]) | (uint32(p[1]) << 8) | (uint32(p[2]) << 16) | (uint32(p[3]) << 24);
		fPosition += 4;
		return true;
	}
	bool Read16(uint16* value)
	{
		if (Remaining() < 2)
			return false;
		const uint8* p = fData + fPosition;
		*value = uint16(p[0] | (p[1] << 8));
		fPosition += 2;
		return true;
	}
	bool ReadBytes(size_t size, const uint8** bytes)
	{
		if (Remaining() < size)
			return false;
		*bytes = fData + fPosition;
		fPosition += size;
		return true;
	}
	// A string of at most maxLength bytes without NUL.
	bool ReadText(size_t size, size_t maxLength, std::string* text)
	{
		const uint8* bytes;
		if (size > maxLength || !ReadBytes(size, &bytes))
			return false;
		if (std::memchr(bytes, 0, size) != nullptr)
			return false;
		text->assign(reinterpret_cast<const char*>(bytes), size);
		return true;
	}

private:
	const uint8* fData;
	size_t fSize;
	size_t fPosition = 0;
};

bool parse_version(Cursor& cursor, version_info* info)
{
	*info = version_info();
	uint32 fields[5];
	for (uint32& field : fields) {
		if (!cursor.Read32(&field))
			return false;
	}
	info->major = fields[0];
	info->middle = fields[1];
	info->minor = fields[2];
	info->variety = fields[3];
	info->internal = fields[4];
	uint32 size;
	std::string text;
	if (!cursor.Read32(&size) || !cursor.ReadText(size, kMaxShortInfo, &text))
		return false;
	std::memcpy(info->short_info, text.data(), text.size());
	if (!cursor.Read32(&size) || !cursor.ReadText(size, kMaxLongInfo, &text))
		return false;
	std::memcpy(info->long_info, text.data(), text.size());
	return cursor.Remaining() == 0;
}

bool parse_record(uint32 tag, const uint8* payload, size_t size, Contents* contents)
{
	Cursor cursor(payload, size);
	switch (tag) {
		case kTagSignature:
			contents->hasSignature = cursor.ReadText(size, kMaxTypeLength, &contents->signature);
			return contents->hasSignature;
		case kTagAppFlags:
			contents->hasAppFlags = size == 4 && cursor.Read32(&contents->appFlags);
			return contents->hasAppFlags;
		case kTagAppVersion:
			contents->hasAppVersion = parse_version(cursor, &contents->appVersion);
			return contents->hasAppVersion;
		case kTagSystemVersion:
			contents->hasSystemVersion = parse_version(cursor, &contents->systemVersion);
			return contents->hasSystemVersion;
		case kTagType:
			contents->hasType = cursor.ReadText(size, kMaxTypeLength, &contents->type);
			return contents->hasType;
		case kTagSupportedType: {
			std::string type;
			if (!cursor.ReadText(size, kMaxTypeLength, &type))
				return false;
			contents->supportedTypes.push_back(std::move(type));
			return true;
		}
		case kTagLargeIcon:
			if (size != kLargeIconBytes)
				return false;
			contents->largeIcon.assign(payload, payload + size);
			return true;
		case kTagMiniIcon:
			if (size != kMiniIconBytes)
				return false;
			contents->miniIcon.assign(payload, payload + size);
			return true;
		default:
			// A record of a later format: not ours to judge.
			return true;
	}
}

// The fields of ELF headers that are needed here, of either class.
struct SectionHeader {
	uint32 name = 0;
	uint32 type = 0;
	uint64 offset = 0;
	uint64 size = 0;
	uint32 link = 0;
};

constexpr uint32 kSectionNoBits = 8; // SHT_NOBITS: no bytes in the file
constexpr uint16 kExtendedIndex = 0xffff; // SHN_XINDEX
// Bounds that no sane executable comes near; they keep a lying header from
// making the reader allocate or loop without end.
constexpr uint64 kMaxSections = 1u << 20;
constexpr uint64 kMaxStringTable = 64u << 20;
constexpr uint64 kMaxSectionBytes = 64u << 20;

class ElfReader {
public:
	ElfReader(const uint8* ident) : fWide(ident[4] == 2), fBig(ident[5] == 2) {}

	uint16 U16(const uint8* p) const
	{
		return fBig ? uint16((p[0] << 8) | p[1]) : uint16(p[0] | (p[1] << 8));
	}
	uint32 U32(const uint8* p) const
	{
		return fBig ? (uint32(p[0]) << 24) | (uint32(p[1]) << 16) | (uint32(p[2]) << 8) | p[3]
					: uint32(p[0]) | (uint32(p[1]) << 8) | (uint32(p[2]) << 16)
				| (uint32(p[3]) << 24);
	}
	uint64 U64(const uint8* p) const
	{
		return fBig ? (uint64(U32(p)) << 32) | U32(p + 4) : uint64(U32(p)) | (uint64(U32(p + 4)) << 32);
	}
	// An address-sized field.
	uint64 Word(const uint8* p) const { return fWide ? U64(p) : U32(p); }

	bool Wide() const { return fWide; }
	size_t HeaderSize() const { return fWide ? 64 : 52; }
	size_t SectionHeaderSize() const { return fWide ? 64 : 40; }

	SectionHeader Section(const uint8* p) const
	{
		SectionHeader header;
		header.name = U32(p);
		header.type = U32(p + 4);
		if (fWide) {
			header.offset = U64(p + 24);
			header.size = U64(p + 32);
			header.link = U32(p + 40);
		} else {
			header.offset = U32(p + 16);
			header.size = U32(p + 20);
			header.link = U32(p + 24);
		}
		return header;
	}

private:
	bool fWide;
	bool fBig;
};

bool fits(uint64 offset, uint64 size, uint64 fileSize)
{
	return offset <= fileSize && size <= fileSize - offset;
}

} // namespace

status_t parse_block(const uint8* data, size_t size, Contents* contents)
{
	if (data == nullptr || contents == nullptr)
		return B_BAD_VALUE;
	*contents = Contents();
	Cursor cursor(data, size);
	const uint8* magic;
	uint16 version;
	uint16 reserved;
	uint32 recordBytes;
	if (!cursor.ReadBytes(sizeof(kMagic), &magic) || std::memcmp(magic, kMagic, sizeof(kMagic)) != 0)
		return B_BAD_DATA;
	if (!cursor.Read16(&version) || !cursor.Read16(&reserved) || !cursor.Read32(&recordBytes))
		return B_BAD_DATA;
	if (version != kFormatVersion)
		return B_BAD_TYPE;
	if (recordBytes > cursor.Remaining())
		return B_BAD_DATA;

	// Whatever follows the block (padding, a second block) is not read.
	Cursor records(data + kBlockHeaderSize, recordBytes);
	while (records.Remaining() > 0) {
		uint32 tag;
		uint32 payloadSize;
		const uint8* payload;
		if (!records.Read32(&tag) || !records.Read32(&payloadSize)
			|| !records.ReadBytes(payloadSize, &payload))
			return B_BAD_DATA;
		if (!parse_record(tag, payload, payloadSize, contents)) {
			*contents = Contents();
			return B_BAD_DATA;
		}
	}
	return B_OK;
}

status_t find_elf_section(const ReadAt& read, uint64 fileSize, const char* name,
	std::vector<uint8>* data)
{
	if (!read || name == nullptr || data == nullptr)
		return B_BAD_VALUE;
	data->clear();

	uint8 header[64] = {};
	if (fileSize < 16 || !read(0, header, 16))
		return fileSize < 16 ? B_BAD_TYPE : B_IO_ERROR;
	if (std::memcmp(header, "\x7f" "ELF", 4) != 0)
		return B_BAD_TYPE;
	if ((header[4] != 1 && header[4] != 2) || (header[5] != 1 && header[5] != 2))
		return B_BAD_TYPE;
	ElfReader elf(header);
	if (fileSize < elf.HeaderSize())
		return B_BAD_DATA;
	if (!read(0, header, elf.HeaderSize()))
		return B_IO_ERROR;

	uint64 sectionOffset = elf.Wide() ? elf.U64(header + 40) : elf.U32(header + 32);
	const uint8* tail = header + (elf.Wide() ? 58 : 46);
	uint64 entrySize = elf.U16(tail);
	uint64 count = elf.U16(tail + 2);
	uint64 stringIndex = elf.U16(tail + 4);
	if (sectionOffset == 0)
		return B_ENTRY_NOT_FOUND;
	if (entrySize < elf.SectionHeaderSize())
		return B_BAD_DATA;

	std::vector<uint8> entry(entrySize);
	auto read_section = [&](uint64 index, SectionHeader* section) -> status_t {
		uint64 offset = sectionOffset + index * entrySize;
		if (!fits(offset, entrySize, fileSize))
			return B_BAD_DATA;
		if (!read(offset, entry.data(), entrySize))
			return B_IO_ERROR;
		*section = elf.Section(entry.data());
		return B_OK;
	};

	// Many sections: the real count and string table index are kept in the
	// first section header.
	if (count == 0 || stringIndex == kExtendedIndex) {
		SectionHeader first;
		status_t status = read_section(0, &first);
		if (status != B_OK)
			return status;
		if (count == 0)
			count = first.size;
		if (stringIndex == kExtendedIndex)
			stringIndex = first.link;
	}
	if (count == 0)
		return B_ENTRY_NOT_FOUND;
	if (count > kMaxSections || stringIndex >= count)
		return B_BAD_DATA;
	if (count * entrySize > kMaxSectionBytes || !fits(sectionOffset, count * entrySize, fileSize))
		return B_BAD_DATA;

	// All section headers at once: one read instead of one per section.
	std::vector<uint8> table(count * entrySize);
	if (!read(sectionOffset, table.data(), table.size()))
		return B_IO_ERROR;
	auto section_at = [&](uint64 index) { return elf.Section(table.data() + index * entrySize); };

	SectionHeader strings = section_at(stringIndex);
	if (strings.type == kSectionNoBits || strings.size > kMaxStringTable
		|| !fits(strings.offset, strings.size, fileSize))
		return B_BAD_DATA;
	std::vector<char> names(strings.size);
	if (!names.empty() && !read(strings.offset, names.data(), names.size()))
		return B_IO_ERROR;

	const size_t nameLength = std::strlen(name);
	for (uint64 index = 0; index < count; index++) {
		SectionHeader section = section_at(index);
		// The name must lie inside the table, terminator included.
		if (section.name >= names.size() || names.size() - section.name <= nameLength)
			continue;
		if (std::memcmp(names.data() + section.name, name, nameLength + 1) != 0)
			continue;
		if (section.type == kSectionNoBits)
			return B_BAD_DATA;
		if (section.size > kMaxSectionBytes || !fits(section.offset, section.size, fileSize))
			return B_BAD_DATA;
		data->resize(section.size);
		if (!data->empty() && !read(section.offset, data->data(), data->size())) {
			data->clear();
			return B_IO_ERROR;
		}
		return B_OK;
	}
	return B_ENTRY_NOT_FOUND;
}

} // namespace tamsel_rsrc
